#include "ui/HelpWindow.h"

namespace plimo {

HelpWindow::HelpWindow() {
  setObjectName("help");
  setWindowTitle("Plimo Help");
  resize(520, 560);
  setOpenExternalLinks(true);
  setHtml(R"(<h2>Plimo Help</h2>
<h3>Getting help</h3>
<p>Tell your helper the ID shown in the main window. When your helper connects, a panel asks you:
<b>Allow control</b> lets your helper use this PC, <b>View only</b> lets them only see it, <b>Deny</b>
turns them away. No answer within 30 seconds is a Deny.</p>
<p>Before you answer, ask your helper to read out the <b>check number</b>. Only continue when it is the
same number as on your screen: then nobody sits between you.</p>
<p>While you are helped, a bar at the top of the screen shows who helps you. <b>Pause</b> hides your
screen and stops your helper's input; <b>Stop</b> ends the session. A green frame around your screen
shows that it is shared.</p>
<h3>Helping someone</h3>
<p>Type the other PC's 9-digit ID (spaces and dashes are fine) and press <b>Connect</b>. Compare the
check number with the person you help. In the helper's window the keyboard goes to the other PC while
the picture has the focus; click outside the picture to use your keys here again. F11 switches full
screen on and off.</p>
<h3>When it does not connect</h3>
<p>Run <b>Help › Connection Test...</b> and send the report to your support team.</p>)");
}

}  // namespace plimo
