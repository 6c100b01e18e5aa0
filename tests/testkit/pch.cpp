// Carries the precompiled GoogleTest headers every test program reuses.
