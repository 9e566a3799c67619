#include "tests/fakes/fake_os_operations.h"
#include "tests/qt/qt_test_support.h"
#include "ui/main/frmMain.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

namespace trayvo {
namespace {

using testing::child;
using testing::FakeOsOperations;

struct QtMainWindow {
    explicit QtMainWindow(FakeOsOperations fakeOs)
        : os(std::move(fakeOs))
    {
        form.Show();
    }

    QWidget& widget() { return testing::asQt(form.window()).widget(); }
    template <typename Widget>
    Widget* find(const char* name) { return child<Widget>(form.window(), name); }

    FakeOsOperations os;
    QtWindowRuntime runtime{testing::testIdentity()};
    ctlCdrom drives{os};
    frmMain form{runtime, drives, os};
};

FakeOsOperations linuxDrives(std::initializer_list<std::u16string_view> nodes)
{
    FakeOsOperations os;
    for (auto node : nodes) {
        os.candidates.emplace_back(node);
        os.types[DriveRoot(node)] = DriveType::Cdrom;
    }
    return os;
}

// Each label's text must be readable inside its box: an auto-sized label
// inside its container, a fixed one holding all its wrapped lines.
void expectTextFits(const QLabel& label)
{
    const QRect inParent = label.geometry();
    EXPECT_TRUE(label.parentWidget()->rect().contains(inParent)) << label.objectName().toStdString();
    if (label.wordWrap()) {
        EXPECT_LE(label.heightForWidth(label.width()), label.height()) << label.objectName().toStdString();
    } else {
        EXPECT_GE(label.width(), label.sizeHint().width()) << label.objectName().toStdString();
        EXPECT_GE(label.height(), label.sizeHint().height()) << label.objectName().toStdString();
    }
}

TEST(frmMainOnQt, ShowsTheDrivesAndTheDiscStateInReadableText)
{
    FakeOsOperations os = linuxDrives({u"/dev/sr0", u"/dev/sr1"});
    os.discs = {u"/dev/sr0"};
    QtMainWindow main(std::move(os));
    QWidget& window = main.widget();

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Trayvo2010"));
    EXPECT_EQ(window.size(), QSize(363, 229));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(main.find<QLabel>("numofCDROM")->text(), QStringLiteral("2个"));
    auto* combox = main.find<QComboBox>("Combox");
    ASSERT_EQ(combox->count(), 2);
    EXPECT_EQ(combox->itemText(0), QStringLiteral("/dev/sr0"));
    EXPECT_EQ(combox->currentIndex(), 0);
    EXPECT_EQ(main.find<QLabel>("CDROMstatus")->text(), QStringLiteral("光驱设备有可用光盘。"));
    EXPECT_TRUE(main.find<QTimer>("Timer1")->isActive());

    // The node is shown whole, and the selector stops short of the buttons.
    EXPECT_GE(combox->width(), combox->sizeHint().width());
    EXPECT_LT(combox->geometry().right(), main.find<QPushButton>("Command1")->geometry().left());
    EXPECT_EQ(combox->geometry().topLeft(), QPoint(144, 24));

    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->pixmap().isNull())
            expectTextFits(*label);
    testing::saveScreenshot(window, "main-window.png");
}

TEST(frmMainOnQt, NoDriveStateIsReadableAndInert)
{
    QtMainWindow main(linuxDrives({}));

    EXPECT_EQ(main.find<QLabel>("numofCDROM")->text(), QStringLiteral("0个"));
    EXPECT_EQ(main.find<QLabel>("CDROMstatus")->text(), QStringLiteral("程序发现，当前计算机\n没有可用的光驱设备。"));
    EXPECT_EQ(main.find<QComboBox>("Combox")->count(), 0);
    for (auto name : {"Command1", "Command2", "Command3"})
        EXPECT_FALSE(main.find<QPushButton>(name)->isEnabled()) << name;
    EXPECT_FALSE(main.find<QTimer>("Timer1")->isActive());
    for (const QLabel* label : main.widget().findChildren<QLabel*>())
        if (label->pixmap().isNull())
            expectTextFits(*label);
    testing::saveScreenshot(main.widget(), "main-window-no-drive.png");
}

TEST(frmMainOnQt, LayoutLinkFocusAndPlacementAsStored)
{
    QtMainWindow main(linuxDrives({u"/dev/sr0"}));
    QWidget& window = main.widget();

    const QLabel* about = main.find<QLabel>("Label7");
    EXPECT_TRUE(about->font().underline());
    EXPECT_EQ(about->palette().color(QPalette::WindowText), QColor(20, 159, 211));
    EXPECT_EQ(about->toolTip(), QStringLiteral("点击查看信息"));
    EXPECT_EQ(about->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(about->cursor().hotSpot(), QPoint(6, 0));
    EXPECT_EQ(about->cursor().pixmap().size(), QSize(32, 32));
    EXPECT_FALSE(main.find<QLabel>("Label6")->font().underline());
    EXPECT_TRUE(main.find<QLabel>("Label1")->font().families().contains(QStringLiteral("WenQuanYi Micro Hei")));

    const QLabel* image = main.find<QLabel>("Image1");
    EXPECT_EQ(image->geometry(), QRect(24, 199, 25, 25));
    EXPECT_TRUE(image->hasScaledContents());
    EXPECT_EQ(main.find<QGroupBox>("Frame1")->geometry(), QRect(16, 40, 329, 137));
    EXPECT_EQ(main.find<QPushButton>("Command3")->geometry(), QRect(232, 88, 73, 25));

    // Focus starts on the selector and moves through the three buttons only.
    std::vector<QString> chain{window.focusWidget()->objectName()};
    for (QWidget* next = window.focusWidget()->nextInFocusChain(); next != window.focusWidget();
         next = next->nextInFocusChain()) {
        if (next->focusPolicy() & Qt::TabFocus)
            chain.push_back(next->objectName());
    }
    EXPECT_EQ(chain, (std::vector<QString>{QStringLiteral("Combox"), QStringLiteral("Command1"),
                                           QStringLiteral("Command2"), QStringLiteral("Command3")}));

    const QPoint screenCentre = window.screen()->availableGeometry().center();
    EXPECT_LE((window.frameGeometry().center() - screenCentre).manhattanLength(), 2);
}

} // namespace
} // namespace trayvo
