#include "tests/qt/qt_test_support.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

namespace trayvo {
namespace {

struct QtApp : testing::QtMainWindow {
    QtApp() : QtMainWindow({}) {}

    QLabel* aboutLink() { return find<QLabel>("Label7"); }

    // Clicks the About link and runs act on each About window that comes up,
    // from inside its modal loop; returns when the link's handler has. A
    // window act fails to close would hold the test until its time limit:
    // the watchdog says so, naming how it was to be closed, and closes it.
    void openAbout(const std::function<void(QWidget& about)>& act, const char* closedBy = "act")
    {
        QPointer<QWidget> open;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            QWidget* about = QApplication::activeModalWidget();
            // Marked rather than remembered by address: a new window may be
            // made where a closed one was.
            if (!about || about->objectName() != QStringLiteral("frmAbout") || about->property("seen").toBool())
                return;
            about->setProperty("seen", true);
            ++seen;
            open = about;
            act(*about);
        });
        watcher.start(10);
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            if (!open || !open->isVisible())
                return;
            ADD_FAILURE() << "the About window stayed open after: " << closedBy;
            open->close();
        });
        watchdog.start(5000);
        QTest::mouseClick(aboutLink(), Qt::LeftButton);
    }

    std::size_t seen = 0; // About windows acted on
};

TEST(frmAboutOnQt, EveryWayOfClosingUnloadsAndTheNextOpeningLoadsAgain)
{
    QtApp app;
    const std::vector<std::pair<const char*, std::function<void(QWidget&)>>> ways{
        {"close button", [](QWidget& about) {
             QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
         }},
        {"title bar or Alt+F4", [](QWidget& about) { about.windowHandle()->close(); }},
        {"Esc", [](QWidget& about) { QTest::keyClick(&about, Qt::Key_Escape); }},
    };
    for (const auto& [way, close] : ways) {
        QPointer<QWidget> opened;
        app.openAbout(
            [&](QWidget& about) {
                opened = &about;
                close(about);
            },
            way);
        EXPECT_TRUE(opened.isNull()) << way << ": the window was hidden, not destroyed";
    }
    EXPECT_EQ(app.seen, ways.size());
}

TEST(frmAboutOnQt, TheMainWindowTakesNoInputMeanwhile)
{
    QtApp app;
    app.openAbout([&](QWidget& about) {
        if (app.seen > 1) { // a second About opened from the blocked window
            about.close();
            return;
        }
        QLabel* link = app.aboutLink();
        // Through the window system, where modality is enforced.
        QTest::mouseClick(app.widget().windowHandle(), Qt::LeftButton, {}, link->mapTo(&app.widget(), link->rect().center()));
        QTest::qWait(50);
        about.close();
    });
    EXPECT_EQ(app.seen, 1u);
}

TEST(frmAboutOnQt, ReadableOverItsOwner)
{
    QtApp app;
    app.openAbout([&](QWidget& about) {
        EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 Trayvo"));
        EXPECT_FALSE(about.windowIcon().isNull());
        // What the window system is asked for: the About window cannot be
        // minimized away from its waiting owner, which can.
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
        about.close();
    });
}

} // namespace
} // namespace trayvo
