#include "labprog/checks.h"

#include <cmath>
#include <optional>

#include "labprog/units.h"
#include "platform/message.h"
#include "ui/form_language.h"

namespace zimo::labprog {
namespace {

// A maximum as a Single; beyond the largest one it bounds nothing.
float Maximum(double value) { return ui::CSng(value).value_or(value < 0 ? -INFINITY : INFINITY); }

// Beeps, shows the box and keeps its answer where the windows keep it.
void Refuse(LabProgram& program, const std::string& text, const char* title) {
  program.Windows.Beep();
  program.Link.LastLinkStatus = static_cast<int16_t>(
      platform::ShowMessageBox(text, title, platform::kMbOk | platform::kMbIconError));
}

// The card's value of the P variable numbered by |limit|. Offline nothing
// is sent and the shared reply text keeps what it last held: its number is
// the limit then, as in demonstration mode every window expects.
std::optional<float> CardLimit(LabProgram& program, float limit) {
  std::optional<int32_t> number = ui::CLng(std::fabs(limit));
  if (!number) return std::nullopt;
  program.Link.SendControllerCommand(program.Link.ReplyText, "P" + ui::CStr(*number));
  return Maximum(ui::Val(program.Link.ReplyText));
}

}  // namespace

bool CheckValueInRange(LabProgram& program, float value, float limit, int kind) {
  std::optional<float> maximum;
  switch (kind) {
    case 0:
      maximum = CardLimit(program, limit);
      break;
    case 1:
      if ((maximum = CardLimit(program, limit))) *maximum = *maximum / 3276;
      break;
    case 2:
      if ((maximum = CardLimit(program, limit))) {
        *maximum = Maximum(CountsToUserUnits(program.Config, *maximum));
      }
      break;
    case 3:
      maximum = 32767.0f;
      break;
    case 4:
      maximum = Maximum(CountsToUserUnits(program.Config, limit));
      break;
    case 5:
      maximum = limit;
      break;
    default:
      break;
  }
  if (value < 0 || (maximum && value > *maximum)) {
    // Without a maximum only the minimum can fail.
    Refuse(program,
           maximum ? "This value must be between 0 and " + ui::Format(*maximum, "######0.###")
                   : std::string("This value must not be negative."),
           "Invalid Number");
    return false;
  }
  return true;
}

bool CheckTextBounds(LabProgram& program, std::string_view text, const std::string& name, float low,
                     float high) {
  const double value = ui::Val(text);
  if (value < low) {
    Refuse(program, name + " must be larger than" + ui::StrSingle(low), "Bad Value");
    return false;
  }
  if (value > high) {
    Refuse(program, name + " must be smaller than" + ui::StrSingle(high), "Bad Value");
    return false;
  }
  return true;
}

}  // namespace zimo::labprog
