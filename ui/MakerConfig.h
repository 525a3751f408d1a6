// The maker's details in one place: the three web addresses the program uses and the names the
// About and help windows show. Change them here; nothing else spells them.
#pragma once

namespace quorvel::maker {

// Shown in the 500 x 70 banner of the main window. When it cannot be reached the window shows
// its built-in banner instead.
inline constexpr char kBannerUrl[] = "https://quorvel.example/banner/";
// Opened in the user's browser by "在线帮助" (Online help).
inline constexpr char kOnlineHelpUrl[] = "https://quorvel.example/help/";
// Opened by "官网" (Website) and by the maker's lines of the About window.
inline constexpr char kProductUrl[] = "https://quorvel.example/";

// The About window's maker line reads kName followed by "出品"; its address line shows
// kProductAddressText.
inline constexpr char kName[] = "Quorvel 开发组";
inline constexpr char kProductAddressText[] = "quorvel.example";
// The help text's last line.
inline constexpr char kContactLine[] = "联系我们：support@quorvel.example";

}  // namespace quorvel::maker
