#include "DebugDriver.h"

#include "Socket.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QSocketNotifier>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What a read takes at once; a command is a short line.
constexpr size_t kReadChunk = 4096;

QString Plain(QString text) { return text.remove(QLatin1Char('&')); }

}  // namespace

std::unique_ptr<CDebugDriver> CDebugDriver::FromEnvironment(QDialog* dialog)
{
    const char* path = std::getenv(kVariable);
    if (!path || !*path)
        return nullptr;
    const int fd = platform::ConnectLocalStream(path);
    if (fd < 0) {
        std::fprintf(stderr, "Tarnwick: %s: %s\n", path, std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<CDebugDriver>(new CDebugDriver(dialog, fd));
}

CDebugDriver::CDebugDriver(QDialog* dialog, int fd)
    : dialog_(dialog), fd_(fd), notifier_(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(notifier_, &QSocketNotifier::activated, this, &CDebugDriver::OnReadable);
    qApp->installEventFilter(this);
}

CDebugDriver::~CDebugDriver()
{
    qApp->removeEventFilter(this);
    platform::CloseSocket(fd_);
}

bool CDebugDriver::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QDialog*>(watched);
    if (event->type() == QEvent::Show && box && box != dialog_ && box->isWindow()) {
        QStringList texts;
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            if (!label->text().isEmpty())
                texts << label->text();
        }
        Reply(QStringLiteral("window ") + box->windowTitle() + QLatin1Char('\t') + texts.join(QLatin1Char('\t')));
    }
    return QObject::eventFilter(watched, event);
}

void CDebugDriver::OnReadable()
{
    char buffer[kReadChunk];
    const int n = platform::ReceiveSome(fd_, buffer, static_cast<int>(sizeof buffer), false);
    if (n == platform::kNothingReceived)
        return;
    if (n <= 0) {
        // The test has gone (or broke the line): nothing more will come.
        notifier_->setEnabled(false);
        return;
    }
    input_.append(buffer, static_cast<size_t>(n));
    // A command may open a box and run a nested event loop that reads further commands
    // here: each line leaves the buffer before it is carried out.
    for (std::string::size_type end; (end = input_.find('\n')) != std::string::npos;) {
        const QString line = QString::fromUtf8(input_.data(), static_cast<qsizetype>(end));
        input_.erase(0, end + 1);
        Execute(line);
    }
}

void CDebugDriver::Execute(const QString& line)
{
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    const QString verb = blank < 0 ? line : line.left(blank);
    const QString argument = blank < 0 ? QString() : line.mid(blank + 1);
    const bool forDialog = verb == QLatin1String("click") || verb == QLatin1String("menu") || verb == QLatin1String("state");
    if (forDialog && !dialog_) {
        Reply(QStringLiteral("error no dialog"));
    } else if (verb == QLatin1String("click")) {
        for (QAbstractButton* button : dialog_->findChildren<QAbstractButton*>()) {
            if (Plain(button->text()) == argument) {
                button->click();
                Reply(QStringLiteral("done"));
                return;
            }
        }
        Reply(QStringLiteral("error no button ") + argument);
    } else if (verb == QLatin1String("menu")) {
        for (QAction* action : dialog_->actions()) {
            if (!action->isSeparator() && action->text() == argument) {
                action->trigger();
                Reply(QStringLiteral("done"));
                return;
            }
        }
        Reply(QStringLiteral("error no entry ") + argument);
    } else if (verb == QLatin1String("shot")) {
        QWidget* top = QApplication::activeModalWidget();
        if (!top)
            top = dialog_;
        if (!top)
            Reply(QStringLiteral("error no window"));
        else
            Reply(top->grab().save(argument) ? QStringLiteral("done") : QStringLiteral("error cannot write ") + argument);
    } else if (verb == QLatin1String("state")) {
        const auto* state = dialog_->findChild<QLabel*>(QStringLiteral("state"));
        Reply(state ? QStringLiteral("state ") + state->text() : QStringLiteral("error no state line"));
    } else if (verb == QLatin1String("accept")) {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (box && box != dialog_)
            box->accept();
        else
            Reply(QStringLiteral("error no box"));
    } else if (verb == QLatin1String("tr")) {
        const QStringList parts = argument.split(QLatin1Char('\t'));
        const QByteArray context = parts.value(0).toUtf8();
        const QByteArray source = parts.value(1).toUtf8();
        Reply(QStringLiteral("text ") + QCoreApplication::translate(context.constData(), source.constData()));
    } else {
        Reply(QStringLiteral("error unknown command ") + verb);
    }
}

void CDebugDriver::Reply(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    // The test reads every line; a test that has gone only loses them.
    for (qsizetype sent = 0; sent < bytes.size();) {
        const int n = platform::SendSome(fd_, bytes.constData() + sent, static_cast<int>(bytes.size() - sent));
        if (n <= 0)
            return;
        sent += n;
    }
}
