// The resource script and the images: the templates hold every control the
// dialogs need, the Windows resource compiler reads the script the same way
// the host does, and the images are what their script writes.

#include <gmock/gmock.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ui_port.h"
#include "resources/resource.h"
#include "resources/resource_script.h"

namespace lumivo {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const ResourceScript& Script() {
    static ResourceScript script = [] {
        ResourceScript parsed;
        std::string error;
        EXPECT_TRUE(ParseResourceScript(EmbeddedResourceScript(), parsed, error,
                                        EmbeddedResourceHeaders()))
            << error;
        return parsed;
    }();
    return script;
}

// One control as the dialogs need it: id, class, text, place, styles it must have.
struct Expected {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
    std::uint32_t styles;
};

void ExpectControls(int dialogId, const std::vector<Expected>& expected) {
    const DialogTemplate* dialog = Script().FindDialog(dialogId);
    ASSERT_NE(dialog, nullptr) << dialogId;
    ASSERT_EQ(dialog->controls.size(), expected.size()) << dialogId;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ControlTemplate& control = dialog->controls[i];
        const Expected& want = expected[i];
        SCOPED_TRACE(std::to_string(dialogId) + "/" + std::to_string(want.id));
        EXPECT_EQ(control.id, want.id);
        EXPECT_EQ(control.className, want.className);
        if (want.text != nullptr) {
            EXPECT_EQ(control.text, want.text);
        }
        EXPECT_EQ(control.x, want.x);
        EXPECT_EQ(control.y, want.y);
        EXPECT_EQ(control.width, want.width);
        EXPECT_EQ(control.height, want.height);
        EXPECT_EQ(control.style & want.styles, want.styles);
        EXPECT_EQ(control.style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
    }
}

TEST(ResourceScript, MainDialogIsAHiddenCaptionedPopupFilledByItsTabControl) {
    const DialogTemplate* dialog = Script().FindDialog(IDD_MAIN);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->width, 212);
    EXPECT_EQ(dialog->height, 94);
    const std::uint32_t styles = WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SETFOREGROUND;
    EXPECT_EQ(dialog->style & styles, styles);
    EXPECT_EQ(dialog->style & (WS_VISIBLE | WS_CHILD), 0u);
    EXPECT_EQ(dialog->exStyle, WS_EX_APPWINDOW | WS_EX_CAPTIONOKBTN);
    EXPECT_EQ(dialog->caption, "");
    EXPECT_EQ(dialog->fontSize, 12);
    EXPECT_EQ(dialog->fontFace, "Segoe UI");
    ExpectControls(IDD_MAIN, {{IDC_TABS, "SysTabControl32", "", 0, 0, 212, 94, 0}});
}

TEST(ResourceScript, PagesAreBorderedChildDialogsWithoutCaption) {
    for (int id : {IDD_GENERAL, IDD_OPTIONS, IDD_ABOUT}) {
        const DialogTemplate* page = Script().FindDialog(id);
        ASSERT_NE(page, nullptr) << id;
        EXPECT_EQ(page->width, 210) << id;
        EXPECT_EQ(page->height, 82) << id;
        EXPECT_EQ(page->style & (WS_CHILD | WS_BORDER), WS_CHILD | WS_BORDER) << id;
        EXPECT_NE(page->style & WS_CAPTION, WS_CAPTION) << id;  // a border, but no caption bar
        EXPECT_EQ(page->style & WS_VISIBLE, 0u) << id;
        EXPECT_EQ(page->caption, "") << id;
        EXPECT_EQ(page->fontSize, 12) << id;
        EXPECT_EQ(page->fontFace, "Segoe UI") << id;
    }
}

TEST(ResourceScript, PagesHoldEveryControl) {
    const std::uint32_t readOnlyEdit = WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;
    ExpectControls(IDD_GENERAL, {
                            {IDC_PICTURE, "Static", "", 7, 12, 14, 12, SS_ICON},
                            {IDC_INTRODUCTION, "Static", nullptr, 25, 5, 181, 24, 0},
                            {IDC_CREDENTIALS_GROUP, "Button", "Credentials", 4, 33, 99, 45, BS_GROUPBOX},
                            {IDC_ID_LABEL, "Static", "ID", 8, 45, 32, 8, 0},
                            {IDC_ID, "Edit", "", 44, 43, 53, 12, readOnlyEdit},
                            {IDC_PASSWORD_LABEL, "Static", "Password", 8, 61, 32, 8, 0},
                            {IDC_PASSWORD, "Edit", "", 44, 59, 53, 12, readOnlyEdit},
                            {IDC_VPN_GROUP, "Button", "VPN", 107, 33, 99, 45, BS_GROUPBOX},
                            {IDC_VPN_ADDRESS, "Static", nullptr, 111, 45, 91, 8, 0},
                            {IDC_DISCONNECT_ALL, "Button", "Disconnect all", 146, 62, 56, 12, WS_TABSTOP},
                        });
    EXPECT_EQ(Script().FindDialog(IDD_GENERAL)->controls[0].imageResource, IDI_NORMAL);

    ExpectControls(IDD_OPTIONS,
                   {
                       {IDC_CONNECTIONS_GROUP, "Button", "Connections", 4, 5, 99, 45, BS_GROUPBOX},
                       {IDC_CONNECTIONS_ENABLED, "Button", "Enabled", 8, 17, 36, 8, WS_TABSTOP | BS_AUTOCHECKBOX},
                       {IDC_CONNECTIONS_PASSWORD_LABEL, "Static", "Password", 8, 33, 32, 11, 0},
                       {IDC_CONNECTIONS_PASSWORD, "Edit", "", 44, 31, 53, 12,
                        WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL},
                       {IDC_VPN_GROUP, "Button", "VPN", 107, 5, 99, 45, BS_GROUPBOX},
                       {IDC_VPN_ENABLED, "Button", "Enabled", 111, 17, 36, 8, WS_TABSTOP | BS_AUTOCHECKBOX},
                       {IDC_SAVE, "Button", "Save", 158, 66, 48, 12, WS_TABSTOP},
                   });

    ExpectControls(IDD_ABOUT, {
                            {IDC_PICTURE, "Static", "", 7, 7, 57, 40, SS_BITMAP},
                            {IDC_PRODUCT_NAME, "Static", "", 72, 11, 123, 8, 0},
                            {IDC_VERSION, "Static", "", 72, 23, 123, 8, 0},
                            {IDC_COPYRIGHT, "Static", "", 72, 35, 123, 8, 0},
                        });
    EXPECT_EQ(Script().FindDialog(IDD_ABOUT)->controls[0].imageResource, IDB_LOGO);
}

TEST(ResourceScript, NamesTheIconsAndTheLogo) {
    EXPECT_EQ(Script().icons.at(IDI_NORMAL), "icon142.ico");
    EXPECT_EQ(Script().icons.at(IDI_VPN), "icon143.ico");
    EXPECT_EQ(Script().bitmaps.at(IDB_LOGO), "bitmap154.bmp");
    EXPECT_EQ(Script().icons.size(), 2u);
}

TEST(ResourceScript, MistakesAreReportedWithTheirLine) {
    ResourceScript script;
    std::string error;
    EXPECT_FALSE(
        ParseResourceScript("1 DIALOGEX 0, 0, 1, 1\nSTYLE WS_NOPE\nBEGIN\nEND\n", script, error));
    EXPECT_EQ(error, "line 2: unknown style WS_NOPE");
    EXPECT_FALSE(ParseResourceScript("1 ICON \"open", script, error));
    EXPECT_EQ(error, "line 1: unterminated string");
    EXPECT_FALSE(
        ParseResourceScript("1 DIALOGEX 0, 0, 1, 1\nBEGIN\n CONTROL \"a\" 5\n", script, error));
    EXPECT_EQ(error, "line 3: expected ','");
    EXPECT_TRUE(ParseResourceScript("// nothing\n#define X 1\n", script, error));
    EXPECT_TRUE(script.dialogs.empty());
    EXPECT_FALSE(ParseResourceScript("#include \"a.h\"\n", script, error, {{"a.h", "#include \"a.h\""}}));
    EXPECT_EQ(error, "a.h: line 1: headers include each other");
}

TEST(ResourceScript, NamesFromIncludedHeadersStandForTheirNumbers) {
    ResourceScript script;
    std::string error;
    ASSERT_TRUE(ParseResourceScript(
        "#include <windows.h>\n#include \"ids.h\"\nIDD_X DIALOGEX 0, 0, 1, 1\nBEGIN\n"
        "  CONTROL \"\", IDC_Y, \"Static\", SS_LEFT, 0, 0, 1, 1\nEND\n",
        script, error, {{"ids.h", "#define IDD_X 7\n#define IDC_Y 0x10L\n"}}))
        << error;
    ASSERT_EQ(script.dialogs.size(), 1u);
    EXPECT_EQ(script.dialogs[0].id, 7);
    EXPECT_EQ(script.dialogs[0].controls.at(0).id, 16);
    // Without the header the names mean nothing.
    EXPECT_FALSE(ParseResourceScript("#include \"ids.h\"\nIDD_X DIALOGEX 0, 0, 1, 1\n", script,
                                     error));
}

// The Windows resource compiler's own reading of the script, listed back as
// a script with plain numbers, gives the same templates.
TEST(ResourceScript, WindowsCompilerReadsTheSameTemplates) {
    const std::string windres = LUMIVO_WINDRES;
    if (windres.empty() || windres.find("NOTFOUND") != std::string::npos) {
        GTEST_SKIP() << "no Windows resource compiler";
    }
    const std::string dir = LUMIVO_RESOURCES_DIR;
    const std::string listing = std::string(LUMIVO_TEST_TEMP) + "/lumivo-listing.rc";
    const std::string command =
        "cd '" + dir + "' && '" + windres + "' -O rc -i lumivo.rc -o '" + listing + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    ResourceScript compiled;
    std::string error;
    ASSERT_TRUE(ParseResourceScript(ReadFile(listing), compiled, error)) << error;
    ASSERT_EQ(compiled.dialogs.size(), Script().dialogs.size());
    for (const DialogTemplate& ours : Script().dialogs) {
        const DialogTemplate* theirs = compiled.FindDialog(ours.id);
        ASSERT_NE(theirs, nullptr) << ours.id;
        SCOPED_TRACE(ours.id);
        EXPECT_EQ(theirs->style, ours.style);
        EXPECT_EQ(theirs->exStyle, ours.exStyle);
        EXPECT_EQ(theirs->width, ours.width);
        EXPECT_EQ(theirs->height, ours.height);
        EXPECT_EQ(theirs->fontFace, ours.fontFace);
        ASSERT_EQ(theirs->controls.size(), ours.controls.size());
        for (std::size_t i = 0; i < ours.controls.size(); ++i) {
            const ControlTemplate& a = ours.controls[i];
            const ControlTemplate& b = theirs->controls[i];
            EXPECT_EQ(b.id, a.id);
            EXPECT_EQ(b.style, a.style) << a.id;
            EXPECT_EQ(b.text, a.text) << a.id;
            EXPECT_EQ(b.imageResource, a.imageResource) << a.id;
            EXPECT_EQ(b.x, a.x) << a.id;
            EXPECT_EQ(b.y, a.y) << a.id;
        }
    }
}

std::uint32_t U32(const std::string& data, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(data[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + 3])) << 24;
}
std::uint16_t U16(const std::string& data, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(data[at]) |
                                      static_cast<unsigned char>(data[at + 1]) << 8);
}

TEST(Images, IconsAre32By32In16ColoursAndDiffer) {
    const std::string dir = LUMIVO_RESOURCES_DIR;
    std::string icons[2] = {ReadFile(dir + "/icon142.ico"), ReadFile(dir + "/icon143.ico")};
    for (const std::string& icon : icons) {
        ASSERT_GE(icon.size(), 22u + 40u);
        EXPECT_EQ(U16(icon, 2), 1);  // an icon file
        EXPECT_EQ(U16(icon, 4), 1);  // with one image
        EXPECT_EQ(static_cast<unsigned char>(icon[6]), 32);
        EXPECT_EQ(static_cast<unsigned char>(icon[7]), 32);
        EXPECT_EQ(static_cast<unsigned char>(icon[8]), 16);
        const std::size_t image = U32(icon, 18);
        EXPECT_EQ(U32(icon, image + 4), 32u);  // width
        EXPECT_EQ(U32(icon, image + 8), 64u);  // height of colour and mask
        EXPECT_EQ(U16(icon, image + 14), 4);   // bits per pixel
        EXPECT_EQ(icon.size(), image + 40 + 16 * 4 + 512 + 128);
    }
    // Count the pixels whose colour differs between the two images.
    const std::size_t pixels = U32(icons[0], 18) + 40 + 64;
    int different = 0;
    for (std::size_t i = 0; i < 512; ++i) {
        different += (icons[0][pixels + i] & 0x0F) != (icons[1][pixels + i] & 0x0F);
        different += (icons[0][pixels + i] & 0xF0) != (icons[1][pixels + i] & 0xF0);
    }
    EXPECT_GT(different, 500);
}

TEST(Images, LogoIs128By104At32BitsPerPixel) {
    const std::string logo = ReadFile(std::string(LUMIVO_RESOURCES_DIR) + "/bitmap154.bmp");
    ASSERT_GE(logo.size(), 54u);
    EXPECT_EQ(logo.substr(0, 2), "BM");
    EXPECT_EQ(U32(logo, 18), 128u);
    EXPECT_EQ(U32(logo, 22), 104u);
    EXPECT_EQ(U16(logo, 28), 32);
    EXPECT_EQ(logo.size(), 54u + 128u * 104u * 4u);
}

TEST(Images, CommittedFilesAreWhatTheScriptWrites) {
    const std::string python = LUMIVO_PYTHON;
    if (python.empty() || python.find("NOTFOUND") != std::string::npos) {
        GTEST_SKIP() << "no python3";
    }
    const std::string dir = LUMIVO_RESOURCES_DIR;
    const std::string out = std::string(LUMIVO_TEST_TEMP) + "/images";
    const std::string command = "'" + python + "' '" + dir + "/make_images.py' '" + out + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* name : {"icon142.ico", "icon143.ico", "bitmap154.bmp"}) {
        EXPECT_EQ(ReadFile(out + "/" + name), ReadFile(dir + "/" + name)) << name;
    }
}

}  // namespace
}  // namespace lumivo
