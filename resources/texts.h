#pragma once

// The program's texts, Simplified Chinese as its users read them. Window
// texts are UTF-16; error texts are UTF-8 because they travel inside C++
// exceptions.

#include <string_view>

namespace trayvo::texts {

inline constexpr std::u16string_view appTitle = u"Trayvo2010";
inline constexpr std::u16string_view productName = u"Trayvo2010";

// Main window.
inline constexpr std::u16string_view drivesFound = u"检测到可用的光驱设备：";
inline constexpr std::u16string_view driveCountPlaceholder = u"-";
inline constexpr std::u16string_view chooseDrive = u"请选择光驱设备：";
inline constexpr std::u16string_view statusCaption = u"状态：";
inline constexpr std::u16string_view openTray = u"弹出仓门";
inline constexpr std::u16string_view closeTray = u"关闭仓门";
inline constexpr std::u16string_view openFolder = u"打开目录";
inline constexpr std::u16string_view makerSignature = u"Velmoor个人工作室 o(∩_∩)o";
inline constexpr std::u16string_view aboutLink = u"关于";
inline constexpr std::u16string_view aboutLinkToolTip = u"点击查看信息";
// What a screen reader calls the pictures, which show no text.
inline constexpr std::u16string_view folderPictureName = u"装有文件的文件夹";

inline constexpr std::u16string_view discPresent = u"光驱设备有可用光盘。";
inline constexpr std::u16string_view noDisc = u"光驱设备中没有光盘。";
inline constexpr std::u16string_view noDrive = u"程序发现，当前计算机\r\n没有可用的光驱设备。";
inline constexpr std::u16string_view driveCountUnit = u"个";

// About window. The note's lines open with two ideographic spaces, the
// indent of Chinese prose.
inline constexpr std::u16string_view aboutCaption = u"关于 Trayvo";
inline constexpr std::u16string_view aboutPlaceholder = u"0";
inline constexpr std::u16string_view aboutNotePlaceholder = u"00";
inline constexpr std::u16string_view versionPrefix = u"内部版本号:V";
inline constexpr std::u16string_view thanksLine = u"\u3000\u3000感谢您使用Trayvo。";
inline constexpr std::u16string_view freewareLine = u"\u3000\u3000软件为免费软件，如果您觉得好用，请推荐给您的朋友们。";
inline constexpr std::u16string_view siteLink = u"\u3000\u3000同时欢迎您访问《Quenbrook》";
inline constexpr std::u16string_view siteLinkToolTip = u"Velmoor个人工作室的软件网站《Quenbrook》";
inline constexpr std::u16string_view closeAbout = u"关闭";
inline constexpr std::u16string_view dvdPictureName = u"托盘里放着光盘的 DVD 光驱";

// The maker's web site.
inline constexpr std::u16string_view makerSite = u"https://quenbrook.example/";

// Errors shown by the handler guard.
inline constexpr std::string_view subscriptOutOfRange = "下标越界";
inline constexpr std::string_view unknownError = "未知错误";
// Around a drive's root, such as 无法打开光驱设备 D:\ 的目录。
inline constexpr std::string_view folderNotOpenedBefore = "无法打开光驱设备 ";
inline constexpr std::string_view folderNotOpenedAfter = " 的目录。";

} // namespace trayvo::texts
