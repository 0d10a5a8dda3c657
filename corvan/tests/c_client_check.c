/* A C99 program against the library's public header: it must compile
 * warning-free as C, link against libcorvan32.so and reach the exports. */
#include <corvan/corvan32.h>

#include <stdio.h>
#include <string.h>

static void OnInterrupt(uint32_t parameter, ZimoInterruptInfo* info) {
  (void)parameter;
  (void)info;
}

static int failures = 0;

static void Expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "c_client_check: %s\n", what);
    ++failures;
  }
}

int main(void) {
  char text[] = "P1\t=\x01 5\r\n";
  ZimoIntrFunction target = OnInterrupt;
  ZimoDeviceUserHandle* handle = ZimoGetUserHandle(9);

  Expect(strcmp(szStripControlCharA(text), "P1= 5") == 0, "szStripControlCharA");
  Expect(strcmp(szStripWhiteSpaceA(text), "P1=5") == 0, "szStripWhiteSpaceA");
  Expect(szStripControlCharA(NULL) == NULL, "szStripControlCharA(NULL)");
  Expect(CloseZimoDevice(1) == 1, "CloseZimoDevice of a device never opened");
  Expect(CloseZimoDevice(9) == 0, "CloseZimoDevice(9)");
  Expect(ShutdownZimoDevice(8, 1) == 1, "ShutdownZimoDevice(8)");
  Expect(handle == NULL, "ZimoGetUserHandle(9)");
  Expect(target != NULL, "interrupt function type");
  return failures == 0 ? 0 : 1;
}
