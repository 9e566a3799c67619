#include "tests/qt/qt_test_support.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

namespace trayvo {
namespace {

using testing::child;
using testing::processEventsUntil;

constexpr std::array testControls{
    ControlLayout{.name = "Frame1", .kind = ControlKind::Frame, .rect = {150, 150, 3000, 1500}},
    ControlLayout{.name = "Grows", .kind = ControlKind::Label, .container = "Frame1", .rect = {150, 150, 300, 255},
                  .text = u"x", .font = {.points = 11.25}, .flags = AutoSize | Transparent},
    ControlLayout{.name = "Wraps", .kind = ControlKind::Label, .rect = {150, 1800, 1500, 735},
                  .font = {.points = 11.25}, .flags = WordWrap},
    ControlLayout{.name = "List", .kind = ControlKind::DropDownList, .container = "Frame1",
                  .rect = {150, 600, 450, 330}, .growRightToTwips = 1500},
    ControlLayout{.name = "Button", .kind = ControlKind::PushButton, .rect = {1800, 1800, 1095, 375},
                  .text = u"按钮"},
    ControlLayout{.name = "Ticker", .kind = ControlKind::Timer, .intervalMs = 10},
    ControlLayout{.name = "Slow", .kind = ControlKind::Timer, .intervalMs = 1000},
};

constexpr WindowLayout testLayout{.name = "frmTest", .clientWidthTwips = 4500, .clientHeightTwips = 3000,
                                  .controls = testControls};

class QtAdapter : public ::testing::Test {
protected:
    QtWindowRuntime runtime{testing::testIdentity()};
    std::unique_ptr<Window> window = runtime.createWindow(testLayout);
};

TEST_F(QtAdapter, PlacesControlsInTwipsRelativeToTheirContainer)
{
    EXPECT_EQ(testing::asQt(*window).widget().size(), QSize(300, 200));
    const QPushButton* button = child<QPushButton>(*window, "Button");
    EXPECT_EQ(button->geometry(), QRect(120, 120, 73, 25));
    EXPECT_EQ(button->text(), QStringLiteral("按钮"));
    const QLabel* grows = child<QLabel>(*window, "Grows");
    EXPECT_EQ(grows->parentWidget()->objectName(), QStringLiteral("Frame1"));
    EXPECT_EQ(grows->pos(), QPoint(10, 10));
    EXPECT_THROW(window->label("Button"), std::logic_error);
    EXPECT_THROW(window->timer("Missing"), std::logic_error);
}

TEST_F(QtAdapter, LabelsBreakAtCrLfAndAutoSizeKeepsTheirCorner)
{
    window->label("Grows").setCaption(u"第一行\r\n第二行");
    const QLabel* grows = child<QLabel>(*window, "Grows");
    EXPECT_EQ(grows->text(), QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(grows->pos(), QPoint(10, 10));
    EXPECT_GE(grows->height(), 2 * grows->fontMetrics().height());
    EXPECT_GE(grows->width(), grows->fontMetrics().horizontalAdvance(QStringLiteral("第一行")));

    window->label("Wraps").setCaption(u"很长的一段文字会在固定大小的标签里换行显示");
    const QLabel* wraps = child<QLabel>(*window, "Wraps");
    EXPECT_EQ(wraps->size(), QSize(100, 49));
    EXPECT_TRUE(wraps->wordWrap());

    window->label("Wraps").setForeColor(rgb(20, 159, 211));
    EXPECT_EQ(wraps->palette().color(QPalette::WindowText), QColor(20, 159, 211));
}

TEST_F(QtAdapter, DropDownListWidensForItsLongestItemUpToItsLimit)
{
    DropDownList& list = window->dropDownList("List");
    auto* combo = child<QComboBox>(*window, "List");
    EXPECT_EQ(list.selectedIndex(), -1);
    EXPECT_EQ(list.text(), u"");

    list.addItem(u"/dev/sr1", 0);
    list.addItem(u"/dev/sr0", 0);
    list.setSelectedIndex(1);
    EXPECT_EQ(list.text(), u"/dev/sr1");
    EXPECT_GE(combo->width(), combo->sizeHint().width());
    EXPECT_GT(combo->width(), 30);

    list.addItem(u"/dev/a-node-name-far-too-long-for-any-room", 2);
    EXPECT_EQ(combo->geometry().right() + 1, 100);
    EXPECT_FALSE(combo->isEditable());
}

TEST_F(QtAdapter, TimerStartsAFreshIntervalOnlyAfterBeingStopped)
{
    Timer& timer = window->timer("Slow");
    const auto* qtimer = testing::asQt(*window).widget().findChild<QTimer*>(QStringLiteral("Slow"));
    EXPECT_FALSE(timer.enabled());

    timer.setEnabled(true);
    QTest::qWait(200);
    // Enabling a running timer must not push its next tick back. Qt may move
    // a coarse timer's deadline by up to 5 %, hence the margins.
    timer.setEnabled(true);
    EXPECT_LE(qtimer->remainingTime(), 850);

    timer.setEnabled(false);
    EXPECT_FALSE(timer.enabled());
    timer.setEnabled(true);
    EXPECT_GT(qtimer->remainingTime(), 900);
}

TEST_F(QtAdapter, AnErrorInAHandlerShowsOneMessageWhileTicksWait)
{
    int ticks = 0;
    window->timer("Ticker").onTick([&] {
        ++ticks;
        if (ticks == 1)
            throw std::runtime_error("驱动器没有响应");
    });

    QString title;
    QString text;
    QString okButton;
    int ticksDuringMessage = -1;
    int messageBoxes = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        ++messageBoxes;
        title = box->windowTitle();
        text = box->text();
        okButton = box->button(QMessageBox::Ok)->text();
        const int before = ticks;
        QTest::qWait(100); // the ticker falls due ten times meanwhile
        ticksDuringMessage = ticks - before;
        box->accept();
    });
    closer.start(5);

    window->timer("Ticker").setEnabled(true);
    ASSERT_TRUE(processEventsUntil([&] { return ticks >= 3; }));
    window->timer("Ticker").setEnabled(false);

    EXPECT_EQ(messageBoxes, 1);
    EXPECT_EQ(title, QStringLiteral("Trayvo2010"));
    EXPECT_EQ(text, QStringLiteral("驱动器没有响应"));
    EXPECT_EQ(okButton.remove(QLatin1Char('&')), QStringLiteral("确定")); // Qt's own texts in Chinese too
    EXPECT_EQ(ticksDuringMessage, 0);
}

TEST_F(QtAdapter, ClicksReachTheirHandlers)
{
    int buttonClicks = 0;
    int labelClicks = 0;
    window->pushButton("Button").onClick([&] { ++buttonClicks; });
    window->label("Grows").onClick([&] { ++labelClicks; });
    window->show();

    QTest::mouseClick(child<QPushButton>(*window, "Button"), Qt::LeftButton);
    QTest::mouseClick(child<QLabel>(*window, "Grows"), Qt::LeftButton);
    window->pushButton("Button").setEnabled(false);
    QTest::mouseClick(child<QPushButton>(*window, "Button"), Qt::LeftButton);

    EXPECT_EQ(buttonClicks, 1);
    EXPECT_EQ(labelClicks, 1);
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
