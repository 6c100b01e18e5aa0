#pragma once
// "Plimo Help": how to get help, how to help, and what the check number is for.

#include <QTextBrowser>

namespace plimo {

class HelpWindow final : public QTextBrowser {
 public:
  HelpWindow();
};

}  // namespace plimo
