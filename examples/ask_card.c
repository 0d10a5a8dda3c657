/* ask_card: a small client of libcorvan32.so. Opens a Zimo device, sends
 * one command, prints the card's reply and the result word, and closes the
 * device again.
 *
 *   ask_card [DEVICE [COMMAND]]      (defaults: device 0, command "I10")
 *
 * The result word holds the count of characters in its low 28 bits and the
 * status in its top four: 8 complete, C time-out, D bad acknowledge, E card
 * error, F failure. */
#include <corvan/corvan32.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  uint32_t device = 0;
  const char* command = "I10";
  char reply[256];
  uint32_t word;
  char* end = NULL;

  if (argc > 1) {
    unsigned long number = strtoul(argv[1], &end, 10);
    if (*argv[1] == '\0' || *end != '\0' || number > 7) {
      fprintf(stderr, "usage: ask_card [DEVICE (0 to 7) [COMMAND]]\n");
      return 2;
    }
    device = (uint32_t)number;
  }
  if (argc > 2) command = argv[2];

  if (OpenZimoDevice(device) != 1) {
    fprintf(stderr, "ask_card: device %u could not be opened\n", (unsigned)device);
    return 1;
  }
  word = ZimoGetResponseExA(device, reply, sizeof reply, command);
  CloseZimoDevice(device);

  /* The card ends each line with CR. */
  for (char* c = reply; *c != '\0'; ++c) {
    if (*c == '\r') *c = '\n';
  }
  printf("%s\n%s", command, reply);
  printf("result 0x%08X\n", (unsigned)word);
  return (word & 0x70000000u) == 0 ? 0 : 1;
}
