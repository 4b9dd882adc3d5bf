#pragma once
// For tests only: lets a test press the dialog's buttons in a child process, where no
// person is. It exists only when the environment variable TARNWICK_DEBUG_DRIVER names a
// Unix stream socket on which the test listens; the module connects to it at start-up.
//
// The test sends commands, one a line (UTF-8); each is carried out on the dialog's thread
// as a person would, and answered with "done" once it returned, or "error <reason>":
//   click <caption>   clicks the dialog's button with that caption ("Start", "Exit" ...)
//   menu <text>       triggers the window-menu entry with that text (the about box)
//   shot <file>       saves a PNG of the window on top (a box that is open, else the dialog)
//   accept            closes the box that is open as its OK button does; the answer is the
//                     "done" of the command that opened the box
//   tr <context>\t<text>  answers "text <translation>", as the module's widgets get it
//   state             answers "state <text>" with the dialog's state line
// While a command runs, each box that opens is announced with
//   window <title>\t<text of its labels, tab-separated>
// and stays open (the command is not done) until the test sends "accept"; meanwhile the
// other commands are carried out as usual. A run that shows a box alone, without the
// dialog, announces it as it opens; "accept" closes it and ends the run.

#include <QObject>
#include <QString>

#include <memory>
#include <string>

class QDialog;
class QSocketNotifier;

class CDebugDriver : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kVariable = "TARNWICK_DEBUG_DRIVER";

    // Null when the variable is unset or empty. When the socket cannot be reached, the
    // reason (naming it) goes to standard error and the result is null too. `dialog`, the
    // run's own window, outlives the driver; null for a run that shows a box alone (then
    // "click", "menu" and "state" answer errors).
    static std::unique_ptr<CDebugDriver> FromEnvironment(QDialog* dialog);
    ~CDebugDriver() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CDebugDriver(QDialog* dialog, int fd);
    void OnReadable();
    void Execute(const QString& line);
    void Reply(const QString& line);

    QDialog* dialog_;
    int fd_;
    QSocketNotifier* notifier_;
    std::string input_;
};
