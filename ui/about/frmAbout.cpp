#include "ui/about/frmAbout.h"

#include "resources/texts.h"
#include "ui/about/frmAbout_layout.h"
#include "ui/link_color.h"


namespace trayvo {

frmAbout::frmAbout(WindowRuntime& runtime, OsOperations& os)
    : runtime_(runtime)
    , os_(os)
    , window_(runtime.createWindow(frmAboutLayout))
{
    window_->label("Label4").onClick([this] { Label4_Click(); });
    window_->pushButton("Command1").onClick([this] { Command1_Click(); });
}

void frmAbout::Show(Window& owner)
{
    runtime_.runHandler([this] { Form_Load(); });
    window_->showModal(owner);
}

void frmAbout::Form_Load()
{
    const AppIdentity& app = runtime_.app();
    window_->label("Label4").setForeColor(linkColor);
    window_->label("Label1").setCaption(app.productName);
    window_->label("Label2").setCaption(Text(texts::versionPrefix) + decimalText(app.major));
    window_->label("Label3").setCaption(Text(texts::thanksLine) + u"\r\n" + Text(texts::freewareLine));
}

void frmAbout::Label4_Click()
{
    os_.shellExecute(window_->handle(), Text(texts::makerSite));
}

void frmAbout::Command1_Click()
{
    window_->unload();
}

} // namespace trayvo
