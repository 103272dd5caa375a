/* Writes Windows' best fit for Windows-1252 as an independent implementation
 * gives it: every UTF-16 unit that WideCharToMultiByte(1252, 0, ...) narrows
 * to a byte that is not its own, without the used-default flag, as
 * "UNIT BYTE" in hex. Built with mingw-w64 and run under wine:
 *
 *   x86_64-w64-mingw32-gcc -O1 -o BestFit1252.exe BestFit1252.c
 *   WINEDEBUG=-all wine BestFit1252.exe | tr -d '\r' > BestFit1252.txt
 */
#include <windows.h>
#include <stdio.h>
int main(void){
  for (unsigned c = 0x80; c < 0x10000; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    WCHAR w = (WCHAR)c; char out[8]; BOOL used = FALSE;
    int n = WideCharToMultiByte(1252, 0, &w, 1, out, sizeof out, NULL, &used);
    if (n == 1 && !used) {
      WCHAR back; MultiByteToWideChar(1252, 0, out, 1, &back, 1);
      if (back != w) printf("%04X %02X\n", c, (unsigned char)out[0]);
    } else if (n != 1 || used) {
      if (!(n==1 && out[0]=='?')) printf("%04X n=%d used=%d\n", c, n, used);
    }
  }
  return 0;
}
