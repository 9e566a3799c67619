#include "tests/fakes/fake_os_operations.h"
#include "tests/fakes/fake_window_runtime.h"
#include "ui/main/frmMain.h"

#include <gtest/gtest.h>

namespace trayvo {
namespace {

using testing::FakeOsOperations;
using testing::FakeWindow;
using testing::FakeWindowRuntime;

const Text note = u"\u3000\u3000感谢您使用Trayvo。\r\n\u3000\u3000软件为免费软件，如果您觉得好用，请推荐给您的朋友们。";

struct MainWithAbout {
    explicit MainWithAbout(FakeOsOperations fakeOs)
        : os(std::move(fakeOs))
    {
        form.Show();
    }

    FakeWindow& main() { return static_cast<FakeWindow&>(form.window()); }
    // Clicks the About link; act runs while the About window is up.
    void openAbout(std::function<void(FakeWindow&)> act)
    {
        runtime.whileModal = std::move(act);
        main().fakeLabel("Label7").click();
    }

    FakeOsOperations os;
    FakeWindowRuntime runtime;
    ctlCdrom drives{os};
    frmMain form{runtime, drives, os};
};

TEST(frmAbout, EachOpeningLoadsAFreshWindowWithItsTexts)
{
    MainWithAbout app(FakeOsOperations::withCdroms({u"D:\\"}));
    for (int opening = 1; opening <= 2; ++opening) {
        bool shown = false;
        app.openAbout([&](FakeWindow& about) {
            shown = true;
            EXPECT_EQ(about.modalOwner, &app.form.window());
            EXPECT_EQ(about.caption, u"关于 Trayvo");
            EXPECT_EQ(about.fakeLabel("Label1").caption, u"Trayvo2010");
            EXPECT_EQ(about.fakeLabel("Label2").caption, u"内部版本号:V3");
            EXPECT_EQ(about.fakeLabel("Label3").caption, note);
            EXPECT_EQ(about.fakeLabel("Label4").caption, u"\u3000\u3000同时欢迎您访问《Quenbrook》");
            EXPECT_EQ(about.fakeLabel("Label4").color, 0x00D39F14u);
            // Set by this window's own load, not left from an earlier one.
            EXPECT_EQ(about.fakeLabel("Label1").captionWrites, 1);
            about.fakeButton("Command1").click();
        });
        EXPECT_TRUE(shown);
        EXPECT_EQ(app.runtime.windowsCreated["frmAbout"], opening);
    }
    EXPECT_TRUE(app.runtime.errorsShown.empty());
}

TEST(frmAbout, EachLinkClickAsksForTheSiteOnce)
{
    MainWithAbout app(FakeOsOperations::withCdroms({}));
    WindowHandle aboutHandle = 0;
    app.openAbout([&](FakeWindow& about) {
        aboutHandle = about.handle();
        for (int i = 0; i < 3; ++i)
            about.fakeLabel("Label4").click();
        EXPECT_FALSE(about.unloaded);
        about.fakeButton("Command1").click();
    });
    ASSERT_EQ(app.os.opened.size(), 3u);
    for (const auto& [owner, url] : app.os.opened) {
        EXPECT_EQ(owner, aboutHandle);
        EXPECT_EQ(url, u"https://quenbrook.example/");
    }
}

TEST(frmAbout, TheDiscWatchGoesOnWhileItIsOpen)
{
    MainWithAbout app(FakeOsOperations::withCdroms({u"D:\\"}));
    auto& status = app.main().fakeLabel("CDROMstatus");
    app.openAbout([&](FakeWindow& about) {
        app.os.discs = {u"D:\\"};
        app.main().fakeTimer("Timer1").elapse();
        EXPECT_EQ(status.caption, u"光驱设备有可用光盘。");
        about.fakeButton("Command1").click();
    });
    EXPECT_TRUE(app.main().fakeTimer("Timer1").enabled());
}

} // namespace
} // namespace trayvo
