#include "tests/qt/qt_test_support.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace trayvo {
namespace {

struct QtApp : testing::QtMainWindow {
    QtApp() : QtMainWindow({}) {}

    QLabel* aboutLink() { return find<QLabel>("Label7"); }

    // Clicks the About link and runs act on each About window that comes up,
    // from inside its modal loop; returns when the link's handler has. A
    // window left open would hold the test until its time limit: the
    // watchdog says so, naming how it was to be closed, and closes it.
    void openAbout(const std::function<void(QWidget& about)>& act, const char* closedBy)
    {
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            // Found by name, not as the modal window, so that one that is not
            // modal is seen too. Marked rather than remembered by address: a
            // new window may be made where a closed one was.
            const QWidgetList windows = QApplication::topLevelWidgets();
            const auto found = std::find_if(windows.begin(), windows.end(), [](const QWidget* window) {
                return window->isVisible() && window->objectName() == QStringLiteral("frmAbout")
                       && !window->property("seen").toBool();
            });
            if (found == windows.end())
                return;
            QWidget* about = *found;
            about->setProperty("seen", true);
            ++seen;
            act(*about);
        });
        watcher.start(10);
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            int shown = 0;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->isVisible() && window->objectName() == QStringLiteral("frmAbout")) {
                    if (++shown > 1)
                        ADD_FAILURE() << "a second About window, opened from the main window meanwhile";
                    else
                        ADD_FAILURE() << "the About window stayed open after: " << closedBy;
                    window->close();
                }
            }
        });
        watchdog.start(5000);
        QTest::mouseClick(aboutLink(), Qt::LeftButton);
    }

    std::size_t seen = 0; // About windows acted on
};

// What the window system is asked for: the About window cannot be minimized
// away from its waiting owner, which can, and which takes no input meanwhile.
void expectReadableOverItsOwner(QWidget& about, QtApp& app)
{
    EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 Trayvo"));
    EXPECT_FALSE(about.windowIcon().isNull());
    EXPECT_FALSE(about.windowHandle()->flags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(about.windowHandle()->flags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(app.widget().windowHandle()->flags() & Qt::WindowMinimizeButtonHint);
    EXPECT_LE((about.frameGeometry().center() - app.widget().frameGeometry().center()).manhattanLength(), 2);
    // Focus comes with the window's activation, which a busy machine may
    // deliver some time after the window shows.
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 5000))
        << "nothing took the focus";
    const QWidget* focused = QApplication::focusWidget();
    EXPECT_EQ(focused ? focused->objectName() : QString(), QStringLiteral("Command1"));
    testing::expectTextsFit(about);
    // Not stretched, the picture keeps its own size.
    EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("Image1"))->size(), QSize(95, 61));
    testing::saveScreenshot(about, "about-window.png");
    // Through the window system, where modality is enforced.
    QLabel* link = app.aboutLink();
    QTest::mouseClick(app.widget().windowHandle(), Qt::LeftButton, {}, link->mapTo(&app.widget(), link->rect().center()));
    QTest::qWait(50);
}

TEST(frmAboutOnQt, ReadableOverItsOwnerAndEveryWayOfClosingUnloadsIt)
{
    QtApp app;
    const std::vector<std::pair<const char*, std::function<void(QWidget&)>>> ways{
        {"close button", [](QWidget& about) {
             QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
         }},
        {"title bar or Alt+F4", [](QWidget& about) { about.windowHandle()->close(); }},
        {"Esc", [](QWidget& about) { QTest::keyClick(&about, Qt::Key_Escape); }},
    };
    for (std::size_t opening = 0; opening < ways.size(); ++opening) {
        const auto& [way, close] = ways[opening];
        QPointer<QWidget> opened;
        app.openAbout(
            [&](QWidget& about) {
                if (app.seen > opening + 1) { // a second About opened from the blocked window
                    about.close();
                    return;
                }
                opened = &about;
                if (opening == 0)
                    expectReadableOverItsOwner(about, app);
                close(about);
            },
            way);
        EXPECT_TRUE(opened.isNull()) << way << ": the window was hidden, not destroyed";
        EXPECT_EQ(app.seen, opening + 1) << "the main window took a click while About was open";
    }
}

} // namespace
} // namespace trayvo
