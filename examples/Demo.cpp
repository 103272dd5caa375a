// The README's demo client. For now it shows the platform layer at work:
// text round-trips through the Windows-1252 code page.
#include <cstdio>

#include "Platform/Text.h"

int main(int argc, char** argv) {
  const char* dir = argc > 1 ? argv[1] : ".";
  std::printf("VemComServer demo (working directory %s)\n", dir);
  std::u16string wide = platform::AnsiToWide("Gr\xFC\xDF Gott \x80");
  std::printf("UTF-8 of a Windows-1252 text: %s\n", platform::WideToUtf8(wide).c_str());
  return 0;
}
