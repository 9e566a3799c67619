#include "platform/qt/runtime_qt.h"
#include "platform/qt/window_qt.h"
#include "tests/fakes/fake_os_operations.h"
#include "ui/app_identity.h"
#include "ui/main/frmMain.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace trayvo {
namespace {

// The windows as Qt draws them. What they do is the main window's own,
// checked over the fake runtime; here only what the drawing adds.

// The main window on Qt, shown, over drives named as Linux names them; the
// first holds a disc.
struct QtMainWindow {
    explicit QtMainWindow(std::initializer_list<std::u16string_view> nodes)
    {
        for (auto node : nodes) {
            os.candidates.emplace_back(node);
            os.types[DriveRoot(node)] = DriveType::Cdrom;
        }
        os.discs = {u"/dev/sr0"};
        form.Show();
    }

    QWidget& widget() { return dynamic_cast<QtWindow&>(form.window()).widget(); }
    template <typename Widget>
    Widget* find(const char* name) { return widget().findChild<Widget*>(QString::fromLatin1(name)); }

    testing::FakeOsOperations os;
    QtWindowRuntime runtime{appIdentity};
    ctlCdrom drives{os};
    frmMain form{runtime, drives, os};
};

// Every text of the window must be readable inside its box: an auto-sized
// label inside its container, a wrapping one holding all its lines. A
// picture of the window is kept where the run was told to, for the README
// and for anyone checking a run by eye.
void expectReadable(QWidget& window, const char* screenshot)
{
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull())
            continue;
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()));
        if (label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height());
        } else {
            EXPECT_GE(label->width(), label->sizeHint().width());
            EXPECT_GE(label->height(), label->sizeHint().height());
        }
    }
    const QString dir = qEnvironmentVariable("TRAYVO_SCREENSHOT_DIR");
    if (!dir.isEmpty() && QDir().mkpath(dir))
        window.grab().save(dir + QLatin1Char('/') + QLatin1String(screenshot));
}

TEST(frmMainOnQt, ReadableAsStoredWithDrivesAndWithout)
{
    QtMainWindow main({u"/dev/sr0", u"/dev/sr1"});
    QWidget& window = main.widget();
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowIcon().isNull());
    const QPoint screenCentre = window.screen()->availableGeometry().center();
    EXPECT_LE((window.frameGeometry().center() - screenCentre).manhattanLength(), 2);
    // The node is shown whole, and the selector stops short of the buttons.
    const auto* combox = main.find<QComboBox>("Combox");
    EXPECT_GE(combox->width(), combox->sizeHint().width());
    EXPECT_LT(combox->geometry().right(), main.find<QPushButton>("Command1")->geometry().left());
    // The link looks and points like one.
    const QLabel* about = main.find<QLabel>("Label7");
    EXPECT_TRUE(about->font().underline());
    EXPECT_EQ(about->palette().color(QPalette::WindowText), QColor(20, 159, 211)) << "the link's colour is lost";
    EXPECT_FALSE(about->toolTip().isEmpty());
    EXPECT_EQ(about->cursor().hotSpot(), QPoint(6, 0));
    EXPECT_TRUE(main.find<QLabel>("Image1")->hasScaledContents());
    expectReadable(window, "main-window.png");

    // Focus starts on the selector and moves through the three buttons only.
    std::vector<QString> chain{window.focusWidget()->objectName()};
    for (QWidget* next = window.focusWidget()->nextInFocusChain(); next != window.focusWidget();
         next = next->nextInFocusChain()) {
        if (next->focusPolicy() & Qt::TabFocus)
            chain.push_back(next->objectName());
    }
    EXPECT_EQ(chain, (std::vector<QString>{QStringLiteral("Combox"), QStringLiteral("Command1"),
                                           QStringLiteral("Command2"), QStringLiteral("Command3")}));

    QtMainWindow none({});
    expectReadable(none.widget(), "main-window-no-drive.png");
}

// Clicks the About link and runs act on the About window, from inside its
// modal loop; returns when the link's handler has. A window left open would
// hold the test until its time limit: it is closed after five seconds more,
// as a failure naming how it was to be closed.
void openAbout(QtMainWindow& main, const std::function<void(QWidget& about)>& act, const char* closedBy)
{
    QTimer watcher;
    int polls = 0;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto about = std::find_if(windows.begin(), windows.end(), [](const QWidget* window) {
            return window->isVisible() && window->objectName() == QStringLiteral("frmAbout");
        });
        if (about == windows.end())
            return;
        if (++polls == 1) {
            act(**about);
        } else if (polls == 500) {
            ADD_FAILURE() << "the About window stayed open after: " << closedBy;
            (*about)->close();
        }
    });
    watcher.start(10);
    QTest::mouseClick(main.find<QLabel>("Label7"), Qt::LeftButton);
    EXPECT_GE(polls, 1) << "no About window came up";
}

// What the window system is asked for: the About window, modal, cannot be
// minimized away from its waiting owner, which can.
void expectReadableOverItsOwner(QWidget& about, QtMainWindow& main)
{
    EXPECT_EQ(QApplication::activeModalWidget(), &about) << "About is not modal: its owner takes input meanwhile";
    EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 Trayvo"));
    EXPECT_FALSE(about.windowIcon().isNull());
    EXPECT_FALSE(about.windowHandle()->flags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(about.windowHandle()->flags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(main.widget().windowHandle()->flags() & Qt::WindowMinimizeButtonHint);
    EXPECT_LE((about.frameGeometry().center() - main.widget().frameGeometry().center()).manhattanLength(), 2);
    // Focus comes with the window's activation, which a busy machine may
    // deliver some time after the window shows.
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 5000))
        << "nothing took the focus";
    const QWidget* focused = QApplication::focusWidget();
    EXPECT_EQ(focused ? focused->objectName() : QString(), QStringLiteral("Command1"));
    // Not stretched, the picture keeps its own size.
    EXPECT_EQ(about.findChild<QLabel*>(QStringLiteral("Image1"))->size(), QSize(95, 61));
    expectReadable(about, "about-window.png");
}

TEST(frmAboutOnQt, ReadableOverItsOwnerAndEveryWayOfClosingUnloadsIt)
{
    QtMainWindow main({});
    const std::vector<std::pair<const char*, std::function<void(QWidget&)>>> ways{
        {"close button", [](QWidget& about) {
             QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
         }},
        {"title bar or Alt+F4", [](QWidget& about) { about.windowHandle()->close(); }},
        {"Esc", [](QWidget& about) { QTest::keyClick(&about, Qt::Key_Escape); }},
    };
    for (const auto& [way, close] : ways) {
        QPointer<QWidget> opened;
        openAbout(
            main,
            [&](QWidget& about) {
                opened = &about;
                if (way == ways.front().first)
                    expectReadableOverItsOwner(about, main);
                close(about);
            },
            way);
        EXPECT_TRUE(opened.isNull()) << way << ": the window was hidden, not destroyed";
    }
}

} // namespace
} // namespace trayvo
