// Reads gleamo's resources back with the platform's own calls: from the built
// gleamo.exe, and from this test executable, which links the same resource
// object as any test that needs the menu or the dialog.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "common/win32_handles.h"
#include "res/resource.h"

namespace {

constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);  // 1024
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

using unique_hmodule = unique_handle<HMODULE, call_release<&FreeLibrary>>;

std::string WindowsPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::vector<std::uint8_t> ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
  HRSRC info = FindResourceExA(module, type, name, language);
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const auto* data = static_cast<const std::uint8_t*>(LockResource(loaded));
  if (data == nullptr) return {};
  return {data, data + SizeofResource(module, info)};
}

// Little-endian fields of a resource; a read past the end sets failed() and
// yields zeros, so a short resource fails the checks instead of the process.
class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  bool failed() const { return failed_; }
  std::size_t offset() const { return offset_; }

  std::uint8_t Byte() { return Need(1) ? bytes_[offset_++] : 0; }
  std::uint16_t Word() {
    if (!Need(2)) return 0;
    const auto value = static_cast<std::uint16_t>(bytes_[offset_] | bytes_[offset_ + 1] << 8);
    offset_ += 2;
    return value;
  }
  std::uint32_t Dword() {
    const std::uint32_t low = Word();
    return low | static_cast<std::uint32_t>(Word()) << 16;
  }
  std::int16_t Short() { return static_cast<std::int16_t>(Word()); }

  // A zero-terminated UTF-16 string; anything outside ASCII reads as '?'.
  std::string WideString() {
    std::string text;
    while (!failed_) {
      const std::uint16_t unit = Word();
      if (unit == 0) break;
      text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return text;
  }

  // A name or an ordinal as dialog templates store them: 0 none, 0xFFFF then
  // the ordinal, otherwise a string. Ordinals come back as "#<number>".
  std::string NameOrOrdinal() {
    if (Need(2) && bytes_[offset_] == 0xFF && bytes_[offset_ + 1] == 0xFF) {
      Word();
      return "#" + std::to_string(Word());
    }
    return WideString();
  }

  void AlignToDword() { offset_ = (offset_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t count) {
    if (Need(count)) offset_ += count;
  }

 private:
  bool Need(std::size_t count) {
    if (offset_ + count > bytes_.size()) failed_ = true;
    return !failed_;
  }

  const std::vector<std::uint8_t>& bytes_;
  std::size_t offset_ = 0;
  bool failed_ = false;
};

// Dialog templates may name the predefined classes by their atoms.
std::string ClassName(const std::string& stored) {
  if (stored == "#128") return "BUTTON";
  if (stored == "#129") return "EDIT";
  std::string upper = stored;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR found) {
  auto* names = reinterpret_cast<std::vector<std::string>*>(found);
  names->push_back(IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name)) : name);
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR found) {
  auto* types = reinterpret_cast<std::set<std::string>*>(found);
  types->insert(IS_INTRESOURCE(type) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type)) : type);
  return TRUE;
}

std::string Id(ULONG_PTR number) {
  return "#" + std::to_string(number);
}

INT_PTR CALLBACK SilentDialogProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

enum class Carrier { kProgram, kTestExecutable };

void PrintTo(Carrier carrier, std::ostream* out) {
  *out << (carrier == Carrier::kProgram ? "gleamo.exe" : "the test executable");
}

class ResourcesTest : public ::testing::TestWithParam<Carrier> {
 protected:
  void SetUp() override {
    if (GetParam() == Carrier::kProgram) {
      path_ = WindowsPath(GLEAMO_PROGRAM_PATH);
      loaded_.reset(LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
      ASSERT_TRUE(loaded_) << "cannot open " << path_ << ", error " << GetLastError();
      module_ = loaded_.get();
    } else {
      char ownPath[MAX_PATH] = {};
      ASSERT_NE(GetModuleFileNameA(nullptr, ownPath, MAX_PATH), 0u);
      path_ = ownPath;
      module_ = GetModuleHandleA(nullptr);
    }
  }

  std::vector<WORD> Languages(LPCSTR type, LPCSTR name) const {
    std::vector<WORD> found;
    EnumResourceLanguagesA(module_, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&found));
    return found;
  }

  std::vector<std::string> Names(LPCSTR type) const {
    std::vector<std::string> found;
    EnumResourceNamesA(module_, type, CollectName, reinterpret_cast<LONG_PTR>(&found));
    return found;
  }

  std::string VersionString(const std::vector<std::uint8_t>& block, const char* field) const {
    char query[128];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\040704b0\\%s", field);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, &value, &length) || value == nullptr) return "<missing>";
    return std::string(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), length));
  }

  std::string path_;
  unique_hmodule loaded_;
  HMODULE module_ = nullptr;
};

TEST_P(ResourcesTest, CarriesExactlyTheFiveKindsEachOnceInItsLanguage) {
  std::set<std::string> types;
  EnumResourceTypesA(module_, CollectType, reinterpret_cast<LONG_PTR>(&types));
  // Menu, dialog, icon images, icon group, version block, manifest: no string
  // tables, bitmaps or accelerators, and no second manifest from the toolchain.
  EXPECT_EQ(types, (std::set<std::string>{Id(4), Id(5), Id(3), Id(14), Id(16), Id(24)}));

  EXPECT_EQ(Names(RT_MENU), std::vector<std::string>{Id(IDR_TRAY_MENU)});
  EXPECT_EQ(Names(RT_DIALOG), std::vector<std::string>{Id(IDD_SERVER_MESSAGE)});
  EXPECT_EQ(Names(RT_GROUP_ICON), std::vector<std::string>{Id(1)});
  EXPECT_EQ(Names(RT_VERSION), std::vector<std::string>{Id(1)});
  EXPECT_EQ(Names(RT_MANIFEST), std::vector<std::string>{Id(1)});

  EXPECT_EQ(Languages(RT_MENU, MAKEINTRESOURCEA(IDR_TRAY_MENU)), std::vector<WORD>{kNeutral});
  EXPECT_EQ(Languages(RT_DIALOG, MAKEINTRESOURCEA(IDD_SERVER_MESSAGE)), std::vector<WORD>{kNeutral});
  EXPECT_EQ(Languages(RT_GROUP_ICON, MAKEINTRESOURCEA(1)), std::vector<WORD>{kEnglishUs});
  EXPECT_EQ(Languages(RT_VERSION, MAKEINTRESOURCEA(1)), std::vector<WORD>{kGerman});
  EXPECT_EQ(Languages(RT_MANIFEST, MAKEINTRESOURCEA(1)), std::vector<WORD>{kNeutral});
  EXPECT_EQ(kNeutral, 1024);
  EXPECT_EQ(kEnglishUs, 1033);
  EXPECT_EQ(kGerman, 1031);
}

TEST_P(ResourcesTest, MenuTemplateIsPlainWithThreeTopLevelItemsInOrder) {
  const std::vector<std::uint8_t> bytes = ResourceBytes(module_, RT_MENU, MAKEINTRESOURCEA(IDR_TRAY_MENU), kNeutral);
  ASSERT_FALSE(bytes.empty());
  Reader reader(bytes);
  EXPECT_EQ(reader.Word(), 0) << "version 0: the plain template, not MENUEX";
  EXPECT_EQ(reader.Word(), 0) << "header size";

  struct Item {
    WORD option;
    WORD id;
    std::string text;
  };
  std::vector<Item> items;
  for (int guard = 0; guard < 10 && !reader.failed(); ++guard) {
    Item item{reader.Word(), 0, {}};
    if ((item.option & MF_POPUP) == 0) item.id = reader.Word();
    item.text = reader.WideString();
    items.push_back(item);
    if (item.option & MF_END) break;
  }
  ASSERT_FALSE(reader.failed());
  EXPECT_EQ(reader.offset(), bytes.size()) << "nothing after the last item";
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].option, 0);
  EXPECT_EQ(items[0].id, ID_HELP);
  EXPECT_EQ(items[0].text, "help");
  EXPECT_EQ(items[1].option, 0);
  EXPECT_EQ(items[1].id, ID_MEET_AUTHOR);
  EXPECT_EQ(items[1].text, "meet author");
  EXPECT_EQ(items[2].option, MF_END) << "the last item carries only the end mark";
  EXPECT_EQ(items[2].id, ID_END_PROGRAM);
  EXPECT_EQ(items[2].text, "end program");
}

TEST_P(ResourcesTest, LoadedMenuHasThePlainCommandItems) {
  unique_hmenu menu(LoadMenuA(module_, MAKEINTRESOURCEA(IDR_TRAY_MENU)));
  ASSERT_TRUE(menu) << GetLastError();
  ASSERT_EQ(GetMenuItemCount(menu.get()), 3);

  const struct {
    UINT id;
    const char* text;
  } expected[] = {{ID_HELP, "help"}, {ID_MEET_AUTHOR, "meet author"}, {ID_END_PROGRAM, "end program"}};
  for (UINT position = 0; position < 3; ++position) {
    char text[64] = {};
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = sizeof text;
    ASSERT_TRUE(GetMenuItemInfoA(menu.get(), position, TRUE, &info)) << position;
    EXPECT_EQ(info.wID, expected[position].id) << position;
    EXPECT_STREQ(text, expected[position].text) << position;
    EXPECT_EQ(info.fType, static_cast<UINT>(MFT_STRING)) << position;
    EXPECT_EQ(info.fState, static_cast<UINT>(MFS_ENABLED | MFS_UNCHECKED)) << position;
    EXPECT_EQ(info.hSubMenu, nullptr) << position;
    EXPECT_EQ(std::strchr(text, '&'), nullptr) << position;
  }
}

TEST_P(ResourcesTest, DialogTemplateHasTheServerMessageLayout) {
  const std::vector<std::uint8_t> bytes =
      ResourceBytes(module_, RT_DIALOG, MAKEINTRESOURCEA(IDD_SERVER_MESSAGE), kNeutral);
  ASSERT_FALSE(bytes.empty());
  Reader reader(bytes);
  EXPECT_EQ(reader.Word(), 1) << "dlgVer of DLGTEMPLATEEX";
  EXPECT_EQ(reader.Word(), 0xFFFF) << "signature of DLGTEMPLATEEX";
  EXPECT_EQ(reader.Dword(), 0u) << "help id";
  EXPECT_EQ(reader.Dword(), static_cast<DWORD>(WS_EX_TOOLWINDOW));
  const DWORD style = reader.Dword();
  EXPECT_EQ(style, static_cast<DWORD>(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_SETFONT));
  EXPECT_EQ(style & WS_VISIBLE, 0u);
  const int controls = reader.Word();
  EXPECT_EQ(reader.Short(), 50);
  EXPECT_EQ(reader.Short(), 50);
  EXPECT_EQ(reader.Short(), 366);
  EXPECT_EQ(reader.Short(), 98);
  EXPECT_EQ(reader.NameOrOrdinal(), "") << "menu";
  EXPECT_EQ(reader.NameOrOrdinal(), "") << "window class";
  EXPECT_EQ(reader.WideString(), "gleamo");
  EXPECT_EQ(reader.Word(), 8) << "point size";
  EXPECT_EQ(reader.Word(), 400) << "weight";
  EXPECT_EQ(reader.Byte(), 0) << "italic";
  EXPECT_EQ(reader.Byte(), 0) << "character set";
  EXPECT_EQ(reader.WideString(), "MS Sans Serif");
  ASSERT_EQ(controls, 2);

  struct Control {
    DWORD exStyle;
    DWORD style;
    int x, y, width, height;
    DWORD id;
    std::string className;
    std::string text;
  };
  std::vector<Control> found;
  for (int i = 0; i < controls; ++i) {
    reader.AlignToDword();
    Control control{};
    EXPECT_EQ(reader.Dword(), 0u) << "help id of control " << i;
    control.exStyle = reader.Dword();
    control.style = reader.Dword();
    control.x = reader.Short();
    control.y = reader.Short();
    control.width = reader.Short();
    control.height = reader.Short();
    control.id = reader.Dword();
    control.className = ClassName(reader.NameOrOrdinal());
    control.text = reader.NameOrOrdinal();
    reader.Skip(reader.Word());  // creation data
    found.push_back(control);
  }
  ASSERT_FALSE(reader.failed()) << "template ends early";

  const Control& group = found[0];
  EXPECT_EQ(group.className, "BUTTON");
  EXPECT_EQ(group.id, static_cast<DWORD>(IDC_MESSAGE_GROUP));
  EXPECT_EQ(group.style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | BS_GROUPBOX));
  EXPECT_EQ(group.exStyle, 0u);
  EXPECT_EQ((std::vector<int>{group.x, group.y, group.width, group.height}), (std::vector<int>{5, 3, 356, 88}));
  EXPECT_EQ(group.text, "server message");

  const Control& edit = found[1];
  EXPECT_EQ(edit.className, "EDIT");
  EXPECT_EQ(edit.id, static_cast<DWORD>(IDC_MESSAGE_EDIT));
  EXPECT_EQ(edit.style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_MULTILINE |
                                           ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN));
  EXPECT_EQ(edit.exStyle, 0u);
  EXPECT_EQ((std::vector<int>{edit.x, edit.y, edit.width, edit.height}), (std::vector<int>{12, 14, 342, 70}));
  EXPECT_EQ(edit.text, "");
}

TEST_P(ResourcesTest, DialogIsCreatedHiddenWithItsControls) {
  unique_hwnd dialog(CreateDialogParamA(module_, MAKEINTRESOURCEA(IDD_SERVER_MESSAGE), nullptr, SilentDialogProc, 0));
  ASSERT_TRUE(dialog) << GetLastError();
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);

  EXPECT_FALSE(IsWindowVisible(dialog.get()));
  EXPECT_EQ(GetWindowLongA(dialog.get(), GWL_STYLE) & WS_VISIBLE, 0);
  EXPECT_NE(GetWindowLongA(dialog.get(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  char text[64] = {};
  GetWindowTextA(dialog.get(), text, sizeof text);
  EXPECT_STREQ(text, "gleamo");

  HWND group = GetDlgItem(dialog.get(), IDC_MESSAGE_GROUP);
  ASSERT_NE(group, nullptr);
  GetClassNameA(group, text, sizeof text);
  EXPECT_STREQ(text, "Button");
  GetWindowTextA(group, text, sizeof text);
  EXPECT_STREQ(text, "server message");

  HWND edit = GetDlgItem(dialog.get(), IDC_MESSAGE_EDIT);
  ASSERT_NE(edit, nullptr);
  GetClassNameA(edit, text, sizeof text);
  EXPECT_STREQ(text, "Edit");
  EXPECT_EQ(GetWindowTextLengthA(edit), 0);
  EXPECT_NE(GetWindowLongA(edit, GWL_STYLE) & ES_READONLY, 0);
}

struct ExpectedImage {
  int size;
  int bitsPerPixel;
};

constexpr ExpectedImage kIconImages[] = {{16, 4}, {24, 4},  {32, 4},  {48, 4},  {16, 8},  {24, 8},  {32, 8},
                                         {48, 8}, {16, 32}, {24, 32}, {32, 32}, {48, 32}, {128, 32}};

int RowBytes(int width, int bitsPerPixel) {
  return (width * bitsPerPixel + 31) / 32 * 4;
}

// Checks one RT_ICON image: a classic bitmap whose mask and colour agree and
// that shows a picture, not an empty or a solid square.
void CheckIconImage(const std::vector<std::uint8_t>& bytes, const ExpectedImage& expected) {
  SCOPED_TRACE(std::to_string(expected.size) + " px at " + std::to_string(expected.bitsPerPixel) + " bits");
  ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
  EXPECT_NE(std::memcmp(bytes.data(), "\x89PNG", 4), 0) << "a PNG-compressed image";
  BITMAPINFOHEADER header;
  std::memcpy(&header, bytes.data(), sizeof header);
  EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(header.biWidth, expected.size);
  EXPECT_EQ(header.biHeight, 2 * expected.size) << "colour and mask";
  EXPECT_EQ(header.biPlanes, 1);
  EXPECT_EQ(header.biBitCount, expected.bitsPerPixel);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));

  const int size = expected.size;
  const int paletteEntries = expected.bitsPerPixel <= 8 ? 1 << expected.bitsPerPixel : 0;
  const std::size_t colourOffset = sizeof header + 4 * paletteEntries;
  const int colourStride = RowBytes(size, expected.bitsPerPixel);
  const int maskStride = RowBytes(size, 1);
  const std::size_t maskOffset = colourOffset + static_cast<std::size_t>(colourStride) * size;
  ASSERT_EQ(bytes.size(), maskOffset + static_cast<std::size_t>(maskStride) * size);
  if (paletteEntries > 0) {
    EXPECT_EQ(bytes[sizeof header] | bytes[sizeof header + 1] | bytes[sizeof header + 2], 0) << "entry 0 is black";
  }

  int transparent = 0;
  int blackUnderMask = 0;
  int alphaDisagrees = 0;
  for (int row = 0; row < size; ++row) {
    const std::uint8_t* colourRow = &bytes[colourOffset + static_cast<std::size_t>(row) * colourStride];
    const std::uint8_t* maskRow = &bytes[maskOffset + static_cast<std::size_t>(row) * maskStride];
    for (int x = 0; x < size; ++x) {
      const bool masked = (maskRow[x / 8] & (0x80 >> (x % 8))) != 0;
      std::uint32_t colour = 0;
      switch (expected.bitsPerPixel) {
        case 4: colour = x % 2 == 0 ? colourRow[x / 2] >> 4 : colourRow[x / 2] & 0x0F; break;
        case 8: colour = colourRow[x]; break;
        default: std::memcpy(&colour, colourRow + 4 * x, 4); break;
      }
      if (masked) {
        ++transparent;
        if (colour == 0) ++blackUnderMask;
      }
      if (expected.bitsPerPixel == 32 && masked != ((colour >> 24) == 0)) ++alphaDisagrees;
    }
  }
  EXPECT_EQ(blackUnderMask, transparent) << "transparent pixels must be black, or the screen gets tinted";
  EXPECT_EQ(alphaDisagrees, 0) << "the mask must cover exactly the fully transparent pixels";
  EXPECT_GT(transparent, 0) << "the case's rounded corners let the background through";
  EXPECT_LT(transparent, size * size / 4) << "the drive fills most of the icon";

  // The platform itself must accept the image as an icon of its size.
  unique_hicon icon(CreateIconFromResourceEx(const_cast<PBYTE>(bytes.data()), static_cast<DWORD>(bytes.size()), TRUE,
                                             0x00030000, size, size, LR_DEFAULTCOLOR));
  ASSERT_TRUE(icon) << GetLastError();
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon.get(), &info));
  unique_hbitmap colourBitmap(info.hbmColor);
  unique_hbitmap maskBitmap(info.hbmMask);
  BITMAP bitmap{};
  ASSERT_TRUE(GetObjectA(maskBitmap.get(), sizeof bitmap, &bitmap));
  EXPECT_EQ(bitmap.bmWidth, size);
}

TEST_P(ResourcesTest, IconGroupHoldsThirteenClassicBitmapImages) {
  const std::vector<std::uint8_t> group = ResourceBytes(module_, RT_GROUP_ICON, MAKEINTRESOURCEA(1), kEnglishUs);
  ASSERT_FALSE(group.empty());
  Reader reader(group);
  EXPECT_EQ(reader.Word(), 0) << "reserved";
  EXPECT_EQ(reader.Word(), 1) << "icons, not cursors";
  const int count = reader.Word();
  ASSERT_EQ(count, 13);
  std::set<WORD> imageIds;
  for (int i = 0; i < count; ++i) {
    const ExpectedImage& expected = kIconImages[i];
    SCOPED_TRACE("entry " + std::to_string(i));
    const int width = reader.Byte();
    const int height = reader.Byte();
    const int colours = reader.Byte();
    EXPECT_EQ(reader.Byte(), 0) << "reserved";
    const int planes = reader.Word();
    const int bitCount = reader.Word();
    const DWORD bytesInRes = reader.Dword();
    const WORD id = reader.Word();
    ASSERT_FALSE(reader.failed());
    EXPECT_EQ(width, expected.size);
    EXPECT_EQ(height, expected.size);
    EXPECT_EQ(colours, expected.bitsPerPixel == 4 ? 16 : 0);
    EXPECT_EQ(planes, 1);
    EXPECT_EQ(bitCount, expected.bitsPerPixel);
    EXPECT_TRUE(imageIds.insert(id).second) << "image id " << id << " used twice";

    EXPECT_EQ(Languages(RT_ICON, MAKEINTRESOURCEA(id)), std::vector<WORD>{kEnglishUs});
    const std::vector<std::uint8_t> image = ResourceBytes(module_, RT_ICON, MAKEINTRESOURCEA(id), kEnglishUs);
    EXPECT_EQ(image.size(), bytesInRes);
    CheckIconImage(image, expected);
  }
  EXPECT_EQ(reader.offset(), group.size());
  EXPECT_EQ(Names(RT_ICON).size(), 13u) << "no image outside the group";
}

TEST_P(ResourcesTest, VersionBlockNamesGleamoInGerman) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path_.c_str(), &ignored);
  ASSERT_NE(size, 0u) << GetLastError();
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path_.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u) << "1.0";
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u) << "0.2";
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000002u);
  EXPECT_EQ(fixed->dwFileFlagsMask, 0x17u);
  EXPECT_EQ(fixed->dwFileFlags, 0u);
  EXPECT_EQ(fixed->dwFileOS, 4u) << "VOS__WINDOWS32";
  EXPECT_EQ(fixed->dwFileType, 0u);
  EXPECT_EQ(fixed->dwFileSubtype, 0u);

  DWORD* translation = nullptr;
  ASSERT_TRUE(
      VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u) << "exactly one language";
  EXPECT_EQ(LOWORD(*translation), 0x0407) << "German";
  EXPECT_EQ(HIWORD(*translation), 0x04B0) << "code page 1200";

  EXPECT_EQ(VersionString(block, "FileVersion"), "1, 0, 0, 2");
  EXPECT_EQ(VersionString(block, "ProductVersion"), "1, 0, 0, 2");
  EXPECT_EQ(VersionString(block, "FileDescription"), "gleamo");
  EXPECT_EQ(VersionString(block, "ProductName"), "gleamo");
  EXPECT_EQ(VersionString(block, "OriginalFilename"), "gleamo.exe");
  EXPECT_EQ(VersionString(block, "CompanyName"), "Norvath");
  EXPECT_EQ(VersionString(block, "InternalName"), "gleamo");
  EXPECT_EQ(VersionString(block, "LegalCopyright"), "Copyright (c) 2026 Norvath, MIT License");
}

// Per-monitor DPI awareness (version 2 where the system has it, the older
// forms before it) and nothing else: no dependency, no execution level.
TEST_P(ResourcesTest, ManifestDeclaresPerMonitorDpiAwarenessOnly) {
  const std::vector<std::uint8_t> bytes = ResourceBytes(module_, RT_MANIFEST, MAKEINTRESOURCEA(1), kNeutral);
  ASSERT_FALSE(bytes.empty());
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t open = text.find("<assembly");
  ASSERT_NE(open, std::string::npos) << text;
  const std::size_t openEnd = text.find('>', open);
  ASSERT_NE(openEnd, std::string::npos) << text;
  const std::string tag = text.substr(open, openEnd + 1 - open);
  EXPECT_NE(tag.find("xmlns=\"urn:schemas-microsoft-com:asm.v1\""), std::string::npos) << tag;
  EXPECT_NE(tag.find("manifestVersion=\"1.0\""), std::string::npos) << tag;

  const std::size_t close = text.find("</assembly>", openEnd);
  ASSERT_NE(close, std::string::npos) << text;
  EXPECT_EQ(text.find_first_not_of(" \t\r\n", close + std::strlen("</assembly>")), std::string::npos);
  // The assembly's elements and texts, without the texts between elements
  // that are only white space.
  std::string content;
  for (std::size_t at = openEnd + 1; at < close;) {
    const std::size_t tag = text.find('<', at);  // at the latest the closing tag
    const std::string between = text.substr(at, tag - at);
    if (between.find_first_not_of(" \t\r\n") != std::string::npos) content += between;
    if (tag == close) break;
    const std::size_t tagEnd = text.find('>', tag);
    ASSERT_NE(tagEnd, std::string::npos) << text;
    content += text.substr(tag, tagEnd + 1 - tag);
    at = tagEnd + 1;
  }
  EXPECT_EQ(content,
            "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
            "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>"
            "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor"
            "</dpiAwareness></windowsSettings></application>");
}

INSTANTIATE_TEST_SUITE_P(Carriers, ResourcesTest, ::testing::Values(Carrier::kProgram, Carrier::kTestExecutable),
                         [](const ::testing::TestParamInfo<Carrier>& info) {
                           return info.param == Carrier::kProgram ? "GleamoExe" : "TestExecutable";
                         });

}  // namespace
