#include "tests/fakes/fake_os_operations.h"
#include "tests/qt/qt_test_support.h"
#include "ui/main/frmMain.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace trayvo {
namespace {

using testing::FakeOsOperations;

struct QtApp {
    QtApp() { form.Show(); }

    QWidget& main() { return testing::asQt(form.window()).widget(); }
    QLabel* aboutLink() { return main().findChild<QLabel*>(QStringLiteral("Label7")); }

    // Clicks the About link and runs act on each About window that comes up,
    // from inside its modal loop; returns when the link's handler has.
    void openAbout(const std::function<void(QWidget& about)>& act)
    {
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            QWidget* about = QApplication::activeModalWidget();
            if (!about || about->objectName() != QStringLiteral("frmAbout") || seen.contains(about))
                return;
            seen.insert(about);
            act(*about);
        });
        watcher.start(10);
        QTest::mouseClick(aboutLink(), Qt::LeftButton);
    }

    FakeOsOperations os = FakeOsOperations::withCdroms({});
    QtWindowRuntime runtime{testing::testIdentity()};
    ctlCdrom drives{os};
    frmMain form{runtime, drives, os};
    std::set<QWidget*> seen;
};

QString text(QWidget& about, const char* label)
{
    return about.findChild<QLabel*>(QString::fromLatin1(label))->text();
}

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
        QString name;
        app.openAbout([&](QWidget& about) {
            opened = &about;
            name = text(about, "Label1");
            close(about);
        });
        ASSERT_FALSE(app.seen.empty()) << way;
        EXPECT_EQ(name, QStringLiteral("Trayvo2010")) << way;
        EXPECT_TRUE(opened.isNull()) << way << ": the window was hidden, not destroyed";
    }
    EXPECT_EQ(app.seen.size(), ways.size());
}

TEST(frmAboutOnQt, TheMainWindowTakesNoInputMeanwhile)
{
    QtApp app;
    app.openAbout([&](QWidget& about) {
        if (app.seen.size() > 1) { // a second About opened from the blocked window
            about.close();
            return;
        }
        QLabel* link = app.aboutLink();
        // Through the window system, where modality is enforced.
        QTest::mouseClick(app.main().windowHandle(), Qt::LeftButton, {}, link->mapTo(&app.main(), link->rect().center()));
        QTest::qWait(50);
        about.close();
    });
    EXPECT_EQ(app.seen.size(), 1u);
}

TEST(frmAboutOnQt, ReadableLayoutAndALinkThatOpensTheSiteEachClick)
{
    QtApp app;
    WindowHandle handle = 0;
    app.openAbout([&](QWidget& about) {
        EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 Trayvo"));
        EXPECT_EQ(about.size(), QSize(340, 188));
        EXPECT_FALSE(about.windowIcon().isNull());
        EXPECT_LE((about.frameGeometry().center() - app.main().frameGeometry().center()).manhattanLength(), 2);
        EXPECT_EQ(text(about, "Label2"), QStringLiteral("内部版本号:V3"));
        EXPECT_EQ(text(about, "Label3"), QStringLiteral("\u3000\u3000感谢您使用Trayvo。\n"
                                                         "\u3000\u3000软件为免费软件，如果您觉得好用，请推荐给您的朋友们。"));
        const QLabel* name = about.findChild<QLabel*>(QStringLiteral("Label1"));
        EXPECT_TRUE(name->font().bold());
        const QLabel* note = about.findChild<QLabel*>(QStringLiteral("Label3"));
        EXPECT_LE(note->heightForWidth(note->width()), note->height()) << "the note overflows its box";
        const QLabel* picture = about.findChild<QLabel*>(QStringLiteral("Image1"));
        EXPECT_EQ(picture->size(), QSize(95, 61));

        QLabel* link = about.findChild<QLabel*>(QStringLiteral("Label4"));
        EXPECT_FALSE(link->font().underline());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(20, 159, 211));
        EXPECT_EQ(link->cursor().hotSpot(), QPoint(6, 0));
        EXPECT_EQ(link->toolTip(), QStringLiteral("Velmoor个人工作室的软件网站《Quenbrook》"));
        EXPECT_TRUE(about.rect().contains(link->geometry()));
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(link, Qt::LeftButton);
        handle = static_cast<WindowHandle>(about.winId());
        // Focus comes with the window's activation, which a busy machine may
        // deliver some time after the window shows.
        EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 5000))
            << "nothing took the focus";
        const QWidget* focused = QApplication::focusWidget();
        EXPECT_EQ(focused ? focused->objectName() : QString(), QStringLiteral("Command1"));
        testing::saveScreenshot(about, "about-window.png");
        about.close();
    });
    ASSERT_EQ(app.os.opened.size(), 3u);
    for (const auto& [owner, url] : app.os.opened) {
        EXPECT_EQ(owner, handle);
        EXPECT_EQ(url, u"https://quenbrook.example/");
    }
}

} // namespace
} // namespace trayvo
