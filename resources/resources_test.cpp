// The compiled resources, read back from this program's own image: the
// dialog template item by item, the dialog as the system lays it out (with
// the manifest's Common Controls 6 active), the icon, the version record and
// the manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "resource.h"

namespace {

// ---- Reading an extended dialog template ----

struct TemplateReader {
    const uint8_t* data;
    size_t size;
    size_t offset;
    bool overrun;
};

uint16_t readWord(TemplateReader& r) {
    if (r.offset + 2 > r.size) {
        r.overrun = true;
        return 0;
    }
    uint16_t value;
    std::memcpy(&value, r.data + r.offset, 2);
    r.offset += 2;
    return value;
}

uint32_t readDword(TemplateReader& r) {
    const uint32_t low = readWord(r);
    return low | (static_cast<uint32_t>(readWord(r)) << 16);
}

// A string of UTF-16 units up to its NUL, narrowed (the texts here are ASCII).
std::string readString(TemplateReader& r) {
    std::string text;
    for (uint16_t unit = readWord(r); unit != 0 && !r.overrun; unit = readWord(r)) {
        text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
}

// A name or an ordinal: 0xFFFF then the ordinal, 0 for none, else a string.
// Ordinals of the predefined control classes are given their names.
std::string readNameOrOrdinal(TemplateReader& r) {
    const uint16_t first = readWord(r);
    if (first == 0) {
        return "";
    }
    if (first == 0xFFFF) {
        switch (const uint16_t ordinal = readWord(r)) {
        case 0x80: return "BUTTON";
        case 0x81: return "EDIT";
        case 0x82: return "STATIC";
        default: return "#" + std::to_string(ordinal);
        }
    }
    r.offset -= 2;
    return readString(r);
}

void alignDword(TemplateReader& r) {
    r.offset = (r.offset + 3) & ~static_cast<size_t>(3);
}

struct ExpectedItem {
    int32_t id;
    const char* className;
    const char* text;  // null: any dotted private IPv4 address
    uint32_t style;
    int16_t x, y, cx, cy;
};

const uint32_t CHILD = WS_CHILD | WS_VISIBLE;

const ExpectedItem EXPECTED_ITEMS[] = {
    {IDC_ADDRESS, "EDIT", nullptr, CHILD | WS_BORDER | ES_AUTOHSCROLL, 20, 14, 110, 15},
    {IDC_USERNAME, "EDIT", "USERID", CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 67, 36, 53, 14},
    {IDC_PASSWORD, "EDIT", "KEBRU7NY", CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 67, 51, 53,
     14},
    {IDC_LOGON, "BUTTON", "Logon", CHILD | WS_TABSTOP | BS_PUSHBUTTON, 20, 69, 111, 14},
    {-1, "STATIC", "User Name:", CHILD | WS_GROUP | SS_LEFT, 20, 36, 38, 8},
    {-1, "STATIC", "Password:", CHILD | WS_GROUP | SS_LEFT, 20, 51, 34, 8},
    {IDC_STATUS, "EDIT", "", CHILD | WS_BORDER | ES_READONLY | ES_AUTOHSCROLL, 19, 110, 111, 15},
    {IDC_DUMP_SEL, "BUTTON", "Dump SEL", CHILD | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON, 20, 86, 54, 14},
    {IDC_CLEAR_SEL, "BUTTON", "Clear SEL", CHILD | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON, 77, 86, 54, 14},
};
const int EXPECTED_ITEM_COUNT = sizeof EXPECTED_ITEMS / sizeof EXPECTED_ITEMS[0];

// A dotted IPv4 address in 10/8, 172.16/12 or 192.168/16.
bool isPrivateIpv4(const std::string& text) {
    unsigned a, b, c, d;
    char extra;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 ||
        c > 255 || d > 255 || text.size() > 15) {
        return false;
    }
    return a == 10 || (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
}

bool loadResource(const char* name, LPCSTR type, const uint8_t** data, size_t* size) {
    HRSRC found = FindResourceA(nullptr, name, type);
    if (found == nullptr) {
        return false;
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    *data = static_cast<const uint8_t*>(LockResource(loaded));
    *size = SizeofResource(nullptr, found);
    return *data != nullptr;
}

TEST(DialogTemplate, MatchesTheMainWindowTable) {
    TemplateReader r = {nullptr, 0, 0, false};
    ASSERT_TRUE(loadResource("Tavrel", RT_DIALOG, &r.data, &r.size));

    EXPECT_EQ(readWord(r), 1);       // version of the extended template
    EXPECT_EQ(readWord(r), 0xFFFF);  // its signature
    readDword(r);                    // help ID
    EXPECT_EQ(readDword(r), static_cast<uint32_t>(WS_EX_APPWINDOW));
    EXPECT_EQ(readDword(r), static_cast<uint32_t>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU |
                                                  WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT));
    const uint16_t itemCount = readWord(r);
    const int16_t frame[4] = {static_cast<int16_t>(readWord(r)), static_cast<int16_t>(readWord(r)),
                              static_cast<int16_t>(readWord(r)), static_cast<int16_t>(readWord(r))};
    EXPECT_EQ(frame[0], 0);
    EXPECT_EQ(frame[1], 0);
    EXPECT_EQ(frame[2], 150);
    EXPECT_EQ(frame[3], 138);
    EXPECT_EQ(readNameOrOrdinal(r), "");  // no menu
    // The resource compiler stores the class name in capitals; class names
    // are matched without regard to case.
    EXPECT_STRCASEEQ(readNameOrOrdinal(r).c_str(), "Tavrel");
    EXPECT_EQ(readString(r), "Tavrel V1.1");
    EXPECT_EQ(readWord(r), 8);  // points
    readWord(r);                // weight
    readWord(r);                // italic, character set
    EXPECT_EQ(readString(r), "MS Sans Serif");

    ASSERT_EQ(itemCount, EXPECTED_ITEM_COUNT);
    for (int i = 0; i < EXPECTED_ITEM_COUNT && !r.overrun; ++i) {
        const ExpectedItem& e = EXPECTED_ITEMS[i];
        alignDword(r);
        readDword(r);  // help ID
        EXPECT_EQ(readDword(r), 0u) << "extended style of item " << i;
        EXPECT_EQ(readDword(r), e.style) << "style of item " << i;
        const int16_t x = static_cast<int16_t>(readWord(r));
        const int16_t y = static_cast<int16_t>(readWord(r));
        const int16_t cx = static_cast<int16_t>(readWord(r));
        const int16_t cy = static_cast<int16_t>(readWord(r));
        EXPECT_EQ(x, e.x) << "item " << i;
        EXPECT_EQ(y, e.y) << "item " << i;
        EXPECT_EQ(cx, e.cx) << "item " << i;
        EXPECT_EQ(cy, e.cy) << "item " << i;
        const int32_t id = static_cast<int32_t>(readDword(r));
        // A static's -1 may be stored in 16 bits.
        EXPECT_TRUE(id == e.id || (e.id == -1 && id == 0xFFFF)) << "item " << i << " id " << id;
        EXPECT_EQ(readNameOrOrdinal(r), e.className) << "item " << i;
        const std::string text = readNameOrOrdinal(r);
        if (e.text != nullptr) {
            EXPECT_EQ(text, e.text) << "item " << i;
        } else {
            EXPECT_TRUE(isPrivateIpv4(text)) << "default address \"" << text << "\"";
        }
        const uint16_t extra = readWord(r);
        r.offset += extra;
    }
    EXPECT_FALSE(r.overrun);
}

// ---- The dialog as the system builds it ----

LRESULT CALLBACK plainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(DialogTemplate, DialogKeepsItsLayoutWithTheManifestActive) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = plainWindowProc;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "Tavrel";
    ASSERT_NE(RegisterClassA(&windowClass), 0);

    HWND dialog = CreateDialogParamA(instance, "Tavrel", nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    char className[32];
    GetClassNameA(dialog, className, sizeof className);
    EXPECT_STREQ(className, "Tavrel");
    char title[32];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Tavrel V1.1");

    // The client area and every control sit where their dialog units say.
    RECT client;
    GetClientRect(dialog, &client);
    RECT whole = {0, 0, 150, 138};
    MapDialogRect(dialog, &whole);
    EXPECT_EQ(client.right - client.left, whole.right);
    EXPECT_EQ(client.bottom - client.top, whole.bottom);
    EXPECT_GT(whole.right, 150);  // dialog units are not pixels

    int index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        ASSERT_LT(index, EXPECTED_ITEM_COUNT);
        const ExpectedItem& e = EXPECTED_ITEMS[index];
        // The system converts position and size separately.
        RECT origin = {e.x, e.y, e.x, e.y};
        RECT size = {0, 0, e.cx, e.cy};
        MapDialogRect(dialog, &origin);
        MapDialogRect(dialog, &size);
        RECT actual;
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, origin.left) << "item " << index;
        EXPECT_EQ(actual.top, origin.top) << "item " << index;
        EXPECT_EQ(actual.right - actual.left, size.right) << "item " << index;
        EXPECT_EQ(actual.bottom - actual.top, size.bottom) << "item " << index;
        if (e.id != -1) {
            EXPECT_EQ(GetDlgCtrlID(child), e.id) << "item " << index;
        }
        EXPECT_EQ(IsWindowEnabled(child) != FALSE, (e.style & WS_DISABLED) == 0) << "item " << index;
        ++index;
    }
    EXPECT_EQ(index, EXPECTED_ITEM_COUNT);

    // The font of the template, which every control was given, and the
    // version 6 common controls the manifest asks for.
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(dialog, IDC_LOGON), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA logFont;
    ASSERT_NE(GetObjectA(font, sizeof logFont, &logFont), 0);
    EXPECT_STREQ(logFont.lfFaceName, "MS Sans Serif");
    // Version 6 is a side-by-side assembly: its controls' classes are
    // redirected by the manifest's activation context, and its DLL comes
    // from the assembly's own folder.
    ACTCTX_SECTION_KEYED_DATA redirect;
    std::memset(&redirect, 0, sizeof redirect);
    redirect.cbSize = sizeof redirect;
    EXPECT_TRUE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_WINDOW_CLASS_REDIRECTION, "Button",
                                         &redirect));
    HMODULE commonControls = GetModuleHandleA("comctl32.dll");
    ASSERT_NE(commonControls, nullptr);
    char modulePath[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(commonControls, modulePath, sizeof modulePath), 0u);
    std::string lowerPath(modulePath);
    for (char& c : lowerPath) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_NE(lowerPath.find("microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::string::npos)
        << modulePath;

    DestroyWindow(dialog);
    UnregisterClassA("Tavrel", instance);
}

// ---- Icon, version record, manifest ----

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)

TEST(Icon, HasA32And16PixelImageIn16Colours) {
    const uint8_t* group;
    size_t groupSize;
    ASSERT_TRUE(loadResource("Tavrel", RT_GROUP_ICON, &group, &groupSize));
    ASSERT_GE(groupSize, 6u);
    uint16_t header[3];
    std::memcpy(header, group, sizeof header);
    EXPECT_EQ(header[1], 1);  // icons
    ASSERT_EQ(header[2], 2);
    ASSERT_EQ(groupSize, 6 + 2 * sizeof(GroupIconEntry));

    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group + 6 + i * sizeof entry, sizeof entry);
        EXPECT_EQ(entry.width, sizes[i]) << "image " << i;
        EXPECT_EQ(entry.height, sizes[i]) << "image " << i;
        EXPECT_EQ(entry.colourCount, 16) << "image " << i;
        EXPECT_EQ(entry.bitCount, 4) << "image " << i;

        const uint8_t* image;
        size_t imageSize;
        ASSERT_TRUE(loadResource(MAKEINTRESOURCEA(entry.id), RT_ICON, &image, &imageSize)) << "image " << i;
        EXPECT_EQ(imageSize, entry.bytesInResource);
        BITMAPINFOHEADER bitmap;
        ASSERT_GE(imageSize, sizeof bitmap);
        std::memcpy(&bitmap, image, sizeof bitmap);
        EXPECT_EQ(bitmap.biWidth, sizes[i]);
        EXPECT_EQ(bitmap.biHeight, 2 * sizes[i]);  // colour bits and mask
        EXPECT_EQ(bitmap.biBitCount, 4);
        const size_t colourStride = ((sizes[i] * 4 + 31) / 32) * 4;
        const size_t maskStride = ((sizes[i] + 31) / 32) * 4;
        EXPECT_EQ(imageSize, sizeof bitmap + 16 * 4 + sizes[i] * (colourStride + maskStride));

        HICON icon = static_cast<HICON>(
            LoadImageA(GetModuleHandleA(nullptr), "Tavrel", IMAGE_ICON, sizes[i], sizes[i], 0));
        ASSERT_NE(icon, nullptr) << "image " << i;
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour;
        GetObjectA(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, sizes[i]);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST(VersionRecord, NamesTheProgramAndItsVersion) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, &block[0]));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    struct Case {
        const char* name;
        const char* value;
    };
    const Case cases[] = {
        {"ProductName", "Tavrel"},      {"InternalName", "Tavrel"}, {"OriginalFilename", "Tavrel.exe"},
        {"ProductVersion", "1.1"},      {"FileVersion", "1.1.0.0"},
    };
    for (const Case& c : cases) {
        const std::string query = std::string("\\StringFileInfo\\040904B0\\") + c.name;
        char* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(&block[0], query.c_str(), reinterpret_cast<void**>(&value), &length))
            << c.name;
        EXPECT_STREQ(value, c.value) << c.name;
    }
}

TEST(Manifest, AsksForCommonControls6AndNamesTheSupportedSystems) {
    const uint8_t* data;
    size_t size;
    ASSERT_TRUE(loadResource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), &data, &size));
    const std::string manifest(reinterpret_cast<const char*>(data), size);
    const char* required[] = {
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
        ">true</dpiAware>",
        ">system</dpiAwareness>",
        "level=\"asInvoker\"",
    };
    for (const char* text : required) {
        EXPECT_NE(manifest.find(text), std::string::npos) << text;
    }
}

}  // namespace
