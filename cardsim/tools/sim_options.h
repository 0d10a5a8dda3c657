// Options of zimo-cardsim: which card it plays, which ports it opens and how
// it misbehaves, from the command line and from configuration files.
#pragma once

#include <string>
#include <vector>

#include "cardsim/attach_eth.h"
#include "cardsim/card_model.h"
#include "platform/status.h"

namespace zimo::cardsim {

struct SimOptions {
  CardModel model = CardModel::Older();
  bool pty = false;
  int com_port = 0;              // register the pseudo-terminal as this COM port
  long long firmware_bytes = 0;  // the length of the firmware image to expect
  std::vector<EthOptions> eth;   // one per address and port, UDP and/or TCP
  bool mute = false;
  int error = 0;         // card error the next lines fail with
  int error_count = 1;   // how many lines (-1: all)
  int delay_ms = 0;      // reply delay
  int delay_count = -1;  // how many replies (-1: all)
  bool ack_omitted = false;
  std::vector<std::string> unsolicited;      // messages queued at start
  bool servo = true;                         // run the servo clock
  double time_scale = 1.0;                   // simulated time per wall time
  std::vector<std::pair<int, double>> ring;  // ring stations: node, station type (its I3)
  int silence_after = -1;                    // lines answered before going silent
  std::string silence_at;                    // or the text that starts the silence
  int silence_count = -1;                    // lines of silence (-1: no end)
  bool log_changes = false;
  std::vector<std::pair<char, uint32_t>> watch;  // watched words: X or Y, address
  struct Fault {
    int motor = 0;
    double load = 0;
    bool stuck = false;
  };
  std::vector<Fault> faults;
  std::vector<std::pair<int, bool>> limits;  // motor, positive switch on
  bool read_stdin = true;                    // take control commands from stdin; EOF ends
  bool help = false;
};

// The usage text printed by --help.
const char* SimUsage();

// Parses the arguments after the program name. "--config FILE" reads further
// options from FILE at that point: one per line, "name value" or
// "name=value" with the option's name without dashes, '#' starts a comment.
// The model's fields (--type, --version, ...) apply on top of --model
// wherever they stand.
platform::Result<SimOptions> ParseSimOptions(const std::vector<std::string>& args);

// "a.b.c.d" or "a.b.c.d:port" (port 1025 when absent).
platform::Result<EthOptions> ParseEndpoint(const std::string& text);

}  // namespace zimo::cardsim
