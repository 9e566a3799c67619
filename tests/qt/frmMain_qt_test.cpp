#include "tests/qt/qt_test_support.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace trayvo {
namespace {

using testing::QtMainWindow;

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
    EXPECT_EQ(about->palette().color(QPalette::WindowText), QColor(20, 159, 211));
    EXPECT_FALSE(about->toolTip().isEmpty());
    EXPECT_EQ(about->cursor().hotSpot(), QPoint(6, 0));
    EXPECT_TRUE(main.find<QLabel>("Image1")->hasScaledContents());
    testing::expectTextsFit(window);
    testing::saveScreenshot(window, "main-window.png");

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
    testing::expectTextsFit(none.widget());
    testing::saveScreenshot(none.widget(), "main-window-no-drive.png");
}

// Qt's selector selects the first item put into it when empty, and nothing
// once cleared: the selection must still end where the window chose.
TEST(frmMainOnQt, TheSelectorIsFilledAgainWhenDrivesComeAndGo)
{
    QtMainWindow main({u"/dev/sr0", u"/dev/sr1"});
    auto* combox = main.find<QComboBox>("Combox");
    const auto driveChange = [&](const char16_t* node, DriveType type) {
        main.os.types[node] = type;
        const int drains = main.driveEvents.drains;
        main.driveEvents.report("d");
        ASSERT_TRUE(QTest::qWaitFor([&] { return main.driveEvents.drains > drains; })) << "the report was never read";
    };
    combox->setCurrentIndex(1);
    driveChange(u"/dev/sr0", DriveType::NoRootDir);
    EXPECT_EQ(combox->count(), 1);
    EXPECT_EQ(combox->currentText(), QStringLiteral("/dev/sr1"));
    EXPECT_EQ(main.find<QLabel>("numofCDROM")->text(), QStringLiteral("1个"));

    driveChange(u"/dev/sr1", DriveType::NoRootDir);
    EXPECT_EQ(combox->count(), 0);
    EXPECT_FALSE(main.find<QPushButton>("Command1")->isEnabled());

    driveChange(u"/dev/sr0", DriveType::Cdrom);
    EXPECT_EQ(combox->currentText(), QStringLiteral("/dev/sr0"));
    EXPECT_EQ(main.find<QLabel>("CDROMstatus")->text(), QStringLiteral("光驱设备有可用光盘。"));
    EXPECT_TRUE(main.find<QPushButton>("Command3")->isEnabled());
}

} // namespace
} // namespace trayvo
