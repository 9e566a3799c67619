#include "platform/qt/runtime_qt.h"

#include "platform/qt/accessible_qt.h"
#include "platform/qt/window_qt.h"

#include <QAccessible>
#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>

#include <vector>

namespace trayvo {
namespace {

// Arial first, as the windows were laid out for it; the rest cover systems
// without it and the Chinese that Arial lacks. With Arial alone, the Chinese
// fallback depends on the locale, and some fallbacks' tall lines overflow
// the labels.
void setApplicationFont()
{
    QFont font(QStringLiteral("Arial"), 9);
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    QApplication::setFont(font);
}

} // namespace

QtWindowRuntime::QtWindowRuntime(const AppIdentity& identity)
    : identity_(identity)
    , guard_([this](TextView message) { showError(message); })
{
    QApplication::setApplicationName(toQString(identity.productName));
    // Ties the windows to the installed desktop entry (its icon and name in
    // a Wayland session's task switcher).
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quenbrook.Trayvo2010"));
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(identity.major).arg(identity.minor).arg(identity.revision));
    setApplicationFont();
    // The program speaks Chinese whatever the system's locale, and so do the
    // standard buttons Qt draws for it.
    if (qtTranslator_.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator_);
    QAccessible::installFactory(&accessibleFor);
}

QtWindowRuntime::~QtWindowRuntime()
{
    QAccessible::removeFactory(&accessibleFor);
    QApplication::removeTranslator(&qtTranslator_);
}

std::unique_ptr<Window> QtWindowRuntime::createWindow(const WindowLayout& layout)
{
    return std::make_unique<QtWindow>(layout, guard_);
}

void QtWindowRuntime::runHandler(const Handler& handler)
{
    guard_.run(handler);
}

void QtWindowRuntime::waitFor(BlockingCall call)
{
    wait_.waitFor(std::move(call));
}

void QtWindowRuntime::watchDrives(DriveEventSource& source)
{
    driveEvents_ = std::make_unique<QSocketNotifier>(source.descriptor(), QSocketNotifier::Read);
    QObject::connect(driveEvents_.get(), &QSocketNotifier::activated, driveEvents_.get(),
                     [this, &source] { readDriveEvents(source); });
}

// Every report waiting is read before any window hears of it, so that
// reports arriving together are heard once. The windows are gathered first:
// a handler may open or close one.
void QtWindowRuntime::readDriveEvents(DriveEventSource& source)
{
    if (!source.drain())
        return;
    std::vector<QPointer<FormWidget>> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* form = dynamic_cast<FormWidget*>(widget))
            windows.emplace_back(form);
    }
    for (const QPointer<FormWidget>& form : windows) {
        if (form)
            form->drivesChanged();
    }
}

void QtWindowRuntime::showError(TextView message)
{
    QMessageBox box(QMessageBox::Critical, toQString(identity_.title), toQString(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace trayvo
