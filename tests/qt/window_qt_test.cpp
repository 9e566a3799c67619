#include "platform/qt/runtime_qt.h"
#include "platform/qt/window_qt.h"
#include "ui/app_identity.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <system_error>
#include <stdexcept>

namespace trayvo {
namespace {

template <typename Widget>
Widget* child(Window& window, const char* name)
{
    return dynamic_cast<QtWindow&>(window).widget().findChild<Widget*>(QString::fromLatin1(name));
}

// Reports of drives through a pipe, as udev's come through its socket: 'd'
// tells of a drive attached or removed, anything else of some other device.
class PipeDriveEvents final : public DriveEventSource {
public:
    PipeDriveEvents() { EXPECT_EQ(::pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0); }
    ~PipeDriveEvents() override
    {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    PipeDriveEvents(const PipeDriveEvents&) = delete;
    PipeDriveEvents& operator=(const PipeDriveEvents&) = delete;

    int descriptor() const override { return fds_[0]; }
    bool drain() override
    {
        ++drains;
        bool drive = false;
        char report = 0;
        while (::read(fds_[0], &report, 1) == 1)
            drive = drive || report == 'd';
        return drive;
    }
    void report(std::string_view reports) const
    {
        EXPECT_EQ(::write(fds_[1], reports.data(), reports.size()), static_cast<ssize_t>(reports.size()));
    }

    int drains = 0;

private:
    int fds_[2] = {-1, -1};
};

constexpr std::array testControls{
    ControlLayout{.name = "Frame1", .kind = ControlKind::Frame, .rect = {150, 150, 3000, 1500}},
    ControlLayout{.name = "Grows", .kind = ControlKind::Label, .container = "Frame1", .rect = {150, 150, 300, 255},
                  .text = u"x", .font = {.points = 11.25}, .flags = AutoSize | Transparent},
    ControlLayout{.name = "Wraps", .kind = ControlKind::Label, .rect = {150, 1800, 1200, 255},
                  .font = {.points = 8.25}, .flags = WordWrap, .growDownToTwips = 2400},
    ControlLayout{.name = "List", .kind = ControlKind::DropDownList, .container = "Frame1",
                  .rect = {150, 600, 450, 330}, .growRightToTwips = 1500},
    ControlLayout{.name = "Button", .kind = ControlKind::PushButton, .rect = {1800, 1800, 1095, 375},
                  .text = u"按钮"},
    ControlLayout{.name = "Ticker", .kind = ControlKind::Timer, .intervalMs = 10},
};

constexpr WindowLayout testLayout{.name = "frmTest", .clientWidthTwips = 4500, .clientHeightTwips = 3000,
                                  .controls = testControls};

class QtAdapter : public ::testing::Test {
protected:
    QtWindowRuntime runtime{appIdentity};
    std::unique_ptr<Window> window = runtime.createWindow(testLayout);
};

// A wrapping label deepens for its lines, down to its limit and no further,
// and never shrinks below its stored height.
TEST_F(QtAdapter, LabelsSitInTheirContainerBreakAtCrLfAndFitTheirText)
{
    const QLabel* grows = child<QLabel>(*window, "Grows");
    EXPECT_EQ(grows->parentWidget()->objectName(), QStringLiteral("Frame1"));
    const QPoint corner = grows->pos();
    window->label("Grows").setCaption(u"第一行\r\n第二行");
    EXPECT_EQ(grows->text(), QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(grows->pos(), corner);
    EXPECT_GE(grows->height(), 2 * grows->fontMetrics().height());
    EXPECT_GE(grows->width(), grows->fontMetrics().horizontalAdvance(QStringLiteral("第一行")));
    EXPECT_THROW(window->label("Button"), std::logic_error);

    const QLabel* wraps = child<QLabel>(*window, "Wraps");
    window->label("Wraps").setCaption(u"一\r\n二\r\n三\r\n四\r\n五\r\n六\r\n七\r\n八");
    EXPECT_EQ(wraps->geometry().bottom() + 1, 160) << "grew past its limit of 2400 twips";
    window->label("Wraps").setCaption(u"一");
    EXPECT_EQ(wraps->height(), 17) << "shrank below its stored 255 twips";

    // A container must come before what it holds.
    constexpr std::array misplaced{ControlLayout{.name = "Orphan", .kind = ControlKind::Label, .container = "Frame1"}};
    EXPECT_THROW(runtime.createWindow({.name = "frmMisplaced", .controls = misplaced}), std::logic_error);
}

TEST_F(QtAdapter, DropDownListWidensForItsLongestItemUpToItsLimit)
{
    DropDownList& list = window->dropDownList("List");
    auto* combo = child<QComboBox>(*window, "List");
    EXPECT_EQ(list.text(), u"");
    list.addItem(u"/dev/sr1", 0);
    list.addItem(u"/dev/sr0", 0);
    list.setSelectedIndex(1);
    EXPECT_EQ(list.text(), u"/dev/sr1");
    EXPECT_GE(combo->width(), combo->sizeHint().width());

    list.addItem(u"/dev/a-node-name-far-too-long-for-any-room", 2);
    EXPECT_EQ(combo->geometry().right() + 1, 100); // 1500 twips into the frame
    EXPECT_FALSE(combo->isEditable());
    list.clear();
    list.addItem(u"a", 0);
    EXPECT_EQ(combo->geometry().right() + 1, 100) << "narrowed for a shorter item";
}

// The guard's message on Qt, with the program's title, and the watch going on
// once it is answered.
TEST_F(QtAdapter, AnErrorInAHandlerShowsOneMessageAndTheTicksGoOn)
{
    int ticks = 0;
    window->timer("Ticker").onTick([&] {
        if (++ticks == 1)
            throw std::runtime_error("驱动器没有响应");
    });
    QStringList shown;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        shown << box->windowTitle() << box->text() << box->button(QMessageBox::Ok)->text().remove(QLatin1Char('&'));
        box->accept();
    });
    closer.start(5);

    window->timer("Ticker").setEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 3; })) << "the ticks stopped after the message";
    window->timer("Ticker").setEnabled(false);
    // One message, with the program's title, and Qt's own button in Chinese too.
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Trayvo2010"), QStringLiteral("驱动器没有响应"), QStringLiteral("确定")}));
}

TEST_F(QtAdapter, ClicksReachTheirHandlers)
{
    int buttonClicks = 0;
    int labelClicks = 0;
    window->pushButton("Button").onClick([&] { ++buttonClicks; });
    window->label("Grows").onClick([&] { ++labelClicks; });
    window->show();

    // Pressed on a control but let go elsewhere: the user changed their
    // mind, and a tray must not move.
    const auto dragOff = [](QWidget* control) {
        QTest::mousePress(control, Qt::LeftButton);
        QTest::mouseMove(control, QPoint(control->width() + 5, control->height() / 2));
        QTest::mouseRelease(control, Qt::LeftButton, {}, QPoint(control->width() + 5, control->height() / 2));
    };
    auto* button = child<QPushButton>(*window, "Button");
    dragOff(button);
    EXPECT_EQ(buttonClicks, 0) << "the button acted on being pressed";
    QTest::mouseClick(button, Qt::LeftButton);
    QLabel* label = child<QLabel>(*window, "Grows");
    QTest::mouseClick(label, Qt::LeftButton);
    dragOff(label);
    // A double-click is one click, as on Windows. The window system gives
    // it as a click, then a press that is also a double-click, and a release.
    QTest::mouseClick(label, Qt::LeftButton);
    QTest::mouseDClick(label, Qt::LeftButton);
    QTest::mouseRelease(label, Qt::LeftButton);
    window->pushButton("Button").setEnabled(false);
    QTest::mouseClick(button, Qt::LeftButton);

    EXPECT_EQ(buttonClicks, 1);
    EXPECT_EQ(labelClicks, 2);
}

// A coarse timer may fall due up to 5 % early: a tick would come sooner than
// its interval after a tray action enabled the timer again.
TEST_F(QtAdapter, TimersKeepTheirWholeInterval)
{
    const auto* ticker = dynamic_cast<QtWindow&>(*window).widget().findChild<QTimer*>(QStringLiteral("Ticker"));
    ASSERT_NE(ticker, nullptr);
    EXPECT_EQ(ticker->timerType(), Qt::PreciseTimer) << "a coarse timer may tick early";
}

// Where no thread can be had for a blocking call (a process limit reached),
// that call fails, and the next one, with threads to be had again, runs.
TEST_F(QtAdapter, ABlockingCallThatGetsNoThreadFailsAlone)
{
    window->show();
    pthread_attr_t defaults;
    ASSERT_EQ(::pthread_getattr_default_np(&defaults), 0);
    std::size_t stackSize = 0;
    ::pthread_attr_getstacksize(&defaults, &stackSize);
    // A stack larger than any address space: no thread starts.
    ::pthread_attr_setstacksize(&defaults, std::size_t{1} << 50);
    ASSERT_EQ(::pthread_setattr_default_np(&defaults), 0);
    EXPECT_THROW(runtime.waitFor([] {}), std::system_error);
    ::pthread_attr_setstacksize(&defaults, stackSize);
    ::pthread_setattr_default_np(&defaults);
    ::pthread_attr_destroy(&defaults);

    bool ran = false;
    EXPECT_NO_THROW(runtime.waitFor([&ran] { ran = true; }));
    EXPECT_TRUE(ran);
}

// Reports that wait together are heard once, by every window that listens;
// reports of other devices by none.
TEST(QtDriveReports, ReachEveryWindowOnceForWhatWaitedTogether)
{
    PipeDriveEvents events;
    QtWindowRuntime runtime{appIdentity};
    runtime.watchDrives(events);
    std::unique_ptr<Window> first = runtime.createWindow(testLayout);
    std::unique_ptr<Window> second = runtime.createWindow(testLayout);
    int heard[2] = {0, 0};
    first->onDrivesChanged([&] { ++heard[0]; });
    second->onDrivesChanged([&] { ++heard[1]; });

    events.report("dpd");
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.drains == 1; })) << "reports not read together";
    QCoreApplication::processEvents();
    EXPECT_EQ(heard[0], 1);
    EXPECT_EQ(heard[1], 1);

    events.report("p");
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.drains == 2; })) << "reports not read together";
    second.reset();
    events.report("d");
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.drains == 3; })) << "reports not read together";
    EXPECT_EQ(heard[0], 2);
    EXPECT_EQ(heard[1], 1);
}

TEST_F(QtAdapter, HourglassShowsOverTheWholeApplicationUntilRestored)
{
    window->setMousePointer(MousePointer::Hourglass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    window->setMousePointer(MousePointer::Hourglass);
    window->setMousePointer(MousePointer::Default);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
} // namespace trayvo
