// The STRINGTABLE compiled into QVT.exe holds exactly the portable table's
// ids and texts.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "GuiHarness.h"
#include "StringTable.h"

namespace qvt::gui {
namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

// Ids of every string of the module: each RT_STRING block holds 16 counted
// strings, block n having ids (n - 1) * 16 to n * 16 - 1.
std::set<int> StringIdsOf(HMODULE module) {
  std::set<int> ids;
  auto collect = [](HMODULE m, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
    if (!IS_INTRESOURCE(name)) return TRUE;
    const int block = static_cast<int>(reinterpret_cast<ULONG_PTR>(name));
    HRSRC found = FindResourceW(m, name, MAKEINTRESOURCEW(6));  // RT_STRING
    if (found == nullptr) return TRUE;
    const auto* p = static_cast<const WORD*>(LockResource(LoadResource(m, found)));
    for (int i = 0; i < 16 && p != nullptr; ++i) {
      const WORD length = *p++;
      if (length != 0) reinterpret_cast<std::set<int>*>(param)->insert((block - 1) * 16 + i);
      p += length;
    }
    return TRUE;
  };
  EnumResourceNamesW(module, MAKEINTRESOURCEW(6), collect, reinterpret_cast<LONG_PTR>(&ids));
  return ids;
}

class QvtModule : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(QvtExecutable().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot load QVT.exe's resources";
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE module_ = nullptr;
};

TEST_F(QvtModule, StringTableMatchesThePortableTable) {
  std::set<int> portableIds;
  for (const StringEntry* e = StringTableBegin(); e != StringTableEnd(); ++e) {
    SCOPED_TRACE(e->id);
    portableIds.insert(e->id);
    const wchar_t* text = nullptr;
    const int length =
        LoadStringW(module_, static_cast<UINT>(e->id), reinterpret_cast<wchar_t*>(&text), 0);
    ASSERT_GT(length, 0) << "missing from QVT.exe";
    EXPECT_EQ(ToUtf8(std::wstring(text, static_cast<std::size_t>(length))), e->text);
  }
  EXPECT_EQ(StringIdsOf(module_), portableIds);
}

TEST_F(QvtModule, MenuBarHoldsTheJapaneseCommands) {
  using Texts = std::vector<std::wstring>;
  HMENU bar = LoadMenuW(module_, MAKEINTRESOURCEW(128));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(MenuItemTexts(bar),
            (Texts{L"ファイル(&F)", L"オプション(&O)", L"ビュー(&V)", L"ヘルプ(&H)"}));
  EXPECT_EQ(MenuItemTexts(GetSubMenu(bar, 0)),
            (Texts{L"新規作成(&N)...\tCtrl+N", L"開く(&O)...\tCtrl+O", L"", L"終了(&X)"}));
  EXPECT_EQ(MenuItemTexts(GetSubMenu(bar, 1)),
            (Texts{L"オプション(&O)...", L"オプション2(&L)...", L"ハードディスク実行(&H)...", L"",
                   L"スクリーンショット表示(&S)", L"電源状態読み込み(&P)"}));
  EXPECT_EQ(MenuItemTexts(GetSubMenu(bar, 2)), (Texts{L"ツールバー(&T)", L"ステータスバー(&S)"}));
  EXPECT_EQ(MenuItemTexts(GetSubMenu(bar, 3)), (Texts{L"QVTについて(&A)..."}));
  EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 0), 0), 57600u);
  EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 0), 3), 57665u);
  EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 3), 0), 57664u);
  DestroyMenu(bar);
}

TEST_F(QvtModule, HasTheProgramIconMenuAndAccelerators) {
  EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(14)), nullptr)
      << "icon group 128";
  EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(4)), nullptr)
      << "menu 128";
  EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(9)), nullptr)
      << "accelerators 128";
  EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(100), MAKEINTRESOURCEW(5)), nullptr)
      << "About dialog 100";
}

}  // namespace
}  // namespace qvt::gui
