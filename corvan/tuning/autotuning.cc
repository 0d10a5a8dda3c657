// The autotuning program PLC 31: it drives one motor (or a gantry pair) in
// open loop with the output P1020 until it has travelled P1023 or the time
// P1022 is up, then reverses or clears the output, waits for the motor to
// settle, jogs it back unless asked not to, and reports the end in P996.
// These procedures only write the program; the client sets the parameters
// and enables PLC 31.
#include "corvan/gather_api.h"
#include "corvan/tuning_api.h"
#include "link/library_app.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

constexpr char kQuote = '"';

// Motors these programs address: the largest card has 32; a motor past 8
// is gathered with the last test's mask.
bool ValidMotor(int motor) { return motor >= 1 && motor <= 32; }

bool Newer(const TuningCard& card) { return card.card_type >= 4; }

// The motor words the program reads and writes, by card map.
struct MotorWords {
  unsigned servo_word;  // bit 13: desired velocity zero
  unsigned output;      // the output word
  unsigned position;    // actual position (D)
  unsigned start;       // a spare D word for the start position
  unsigned settle;      // the settle word
  unsigned status;      // motor status (Y), bit 2: fatal following error
  const char* output_field;
};

MotorWords WordsOf(int motor, bool newer) {
  const unsigned b = static_cast<unsigned>(motor - 1);
  if (newer) {
    return {176 + 128 * b, 174 + 128 * b, 139 + 128 * b, 199 + 128 * b,
            157 + 128 * b, 192 + 128 * b, "8,16,s"};
  }
  return {61 + 60 * b, 58 + 60 * b,    43 + 60 * b, 2059 + 192 * b,
          51 + 60 * b, 2068 + 192 * b, "4,20"};
}

// The six definitions of a motor, numbered down from `first_number`: the
// desired-velocity-zero bit (M1021 / M1011), the output, the position, the
// start position, the settle word and the jog-back condition (M1014 /
// M1004).
void DefineMotor(ProgramWriter& w, int first_number, int motor, bool newer) {
  const MotorWords m = WordsOf(motor, newer);
  w.Line("M%d->x:$%x,13,1", first_number, m.servo_word);
  w.Line("M%d->X:$%x,%s", first_number - 3, m.output, m.output_field);
  w.Line("M%d->d:$%x", first_number - 4, m.position);
  w.Line("M%d->d:$%x", first_number - 5, m.start);
  w.Line("M%d->X:$%x,24,S", first_number - 6, m.settle);
  w.Line("M%d->Y:$%x,2,1", first_number - 7, m.status);
}

// The words of the gantry programs (after "M0" and "M1023->*"): the common
// ones, then the first motor's as M1021 down, the second's as M1011 down.
void GantryWords(ProgramWriter& w, bool newer, int first, int second) {
  if (newer) {
    w.Line("I5049=1");
    w.Line("M1020->X:$0006,19");
    w.Line("M1022->x:$10F1,24");
    w.Line("M1023->x:$10F0,24");
  } else {
    w.Line("I19=1");
    w.Line("M1019->X:$0003,19");
    w.Line("M1020->X:$0003,18");
    w.Line("M1022->x:$07F1,24");
    w.Line("M1023->x:$07F0,24");
  }
  DefineMotor(w, 1021, first, newer);
  DefineMotor(w, 1011, second, newer);
}

// The gantry program from its opening line to its end. `full` is the P1
// form (run flag P996 and its own reversal line).
void GantryProgram(ProgramWriter& w, bool newer, int first, int second, int current_loop,
                   int bypass_jog, bool full) {
  w.Line("OPEN PLC 31 CLEAR");
  if (full) w.Line("P996=-1");
  w.Line("P1021=P1022*8388608/I10");
  if (!newer) w.Line("M1019=1");
  w.Line("M1020=1");
  w.Line("CMD%cM1006=M1007 M1016=M1017 %c", kQuote, kQuote);
  w.Line("CMD%cM1008=P1020 M1018=P1020 %c", kQuote, kQuote);
  w.Line("M1023=M0");
  w.Line("M1022=M0-M1023");
  w.Line("WHILE(abs(M1017-M1016)<P1023 AND abs(M1007-M1006)<P1023 AND M1022<P1021)");
  w.Line("M1022=M0-M1023");
  w.Line("ENDWHILE");
  if (!newer) w.Line("M1019=0");
  w.Line("M1020=0");
  if (current_loop != 0) {
    w.Line(full ? "CMD%c M1008= -P1020 M1018= -P1020 %c" : "CMD%c M1008=-P1020 M1018=-P1020 %c",
           kQuote, kQuote);
  } else {
    w.Line("CMD%cM1008=0 M1018=0 %c", kQuote, kQuote);
  }
  w.Line("M1023=M0");
  w.Line("M1022=M0-M1023");
  w.Line("WHILE(ABS(M1015)>(I%d09*32*2) AND ABS(M1005)>(I%d09*32*2) AND M1022<P1021)", first,
         second);
  w.Line("M1022=M0-M1023");
  w.Line("ENDWHILE");
  if (bypass_jog == 0) {
    w.Line("IF(M1014=0 OR M1004=0) ");
    w.Line("p2=1234");
    w.Line("CMD%c#%dJ=#%dJ=p2=0%c", kQuote, second, first, kQuote);
    w.Line("WHILE(P2=1234)");
    w.Line("ENDWHILE");
    w.Line("WHILE(M1021=0 AND M1011=0)");
    w.Line("ENDWHILE");
    w.Line("ELSE");
    w.Line("CMD%c#%dJ/#%dJ/%c", kQuote, second, first, kQuote);
    w.Line("ENDIF");
  } else {
    w.Line("CMD%cM1008=0 M1018=0 %c", kQuote, kQuote);
  }
  w.Line("P1019=0");
  if (full) w.Line("P996=123");
  w.Line("DIS PLC 31");
  w.Line("CLS");
}

}  // namespace

int DownloadAutoTuningPLC(TuningCard& card, int motor, int current_loop, int bypass_jog) {
  if (!ValidMotor(motor)) return 0;
  // The newer map has one control bit (M1020) where the older has two.
  const bool newer = Newer(card);
  const int n = motor;
  ProgramWriter w(card.path, card.device);
  w.Line("ENDG I48=0");
  w.Line("ENDG I48=0");
  w.Line("DELETE GATHER");
  w.Line("DELETE TRACE");
  if (w.ok()) QuickGatherMotor(card, motor);
  w.Line("M0->x:0,24");
  if (newer) {
    w.Line("M1023->x:$10F0,24");
    w.Line("M1022->x:$10F1,24");
  } else {
    w.Line("M1023->x:$07F0,24");
    w.Line("M1022->x:$07F1,24");
  }
  const MotorWords m = WordsOf(n, newer);
  w.Line("M1021->x:$%x,13,1", m.servo_word);
  if (newer) {
    w.Line("M1020->X:$0006,19");
  } else {
    w.Line("M1020->X:$0003,18");
    w.Line("M1019->X:$0003,19");
  }
  w.Line("M1018->X:$%x,%s", m.output, m.output_field);
  w.Line("M1017->d:$%x", m.position);
  w.Line("M1016->d:$%x", m.start);
  w.Line("M1015->X:$%x,24,S", m.settle);
  w.Line("M1014->Y:$%x,2,1", m.status);

  w.Line("OPEN PLC 31 CLEAR");
  w.Line("P996=-1");
  w.Line("P1021=P1022*8388608/I10");
  w.Line("M1020=1");
  if (!newer) w.Line("M1019=1");
  w.Line("M1016=M1017");
  w.Line("M1018=P1020");
  w.Line("M1023=M0");
  w.Line("M1022=M0-M1023");
  w.Line("WHILE(abs(M1017-M1016)<P1023andM1022<P1021)");
  w.Line("M1022=M0-M1023");
  w.Line("ENDWHILE");
  w.Line(newer ? "M1020=0" : "M1019=0");
  w.Line(current_loop != 0 ? "M1018=-P1020" : "M1018=0");
  w.Line("M1023=M0");
  w.Line("M1022=M0-M1023");
  w.Line("WHILE(ABS(M1015)>(I%d09*32*2)ANDM1022<P1021)", n);
  w.Line("M1022=M0-M1023");
  w.Line("ENDWHILE");
  if (bypass_jog == 0) {
    w.Line("IF(M1014=0)");
    w.Line("CMD%c#%dJ= p996=-123%c", kQuote, n, kQuote);
    w.Line("WHILE(P996!=-123)");
    w.Line("ENDWHILE");
    w.Line("WHILE(M1021=1)");
    w.Line("ENDWHILE");
    w.Line("WHILE(M1021=0)");
    w.Line("ENDWHILE");
    w.Line("ELSE");
    w.Line("CMD%c#%dJ/%c", kQuote, n, kQuote);
    w.Line("ENDIF");
  } else {
    w.Line("M1018=0");
  }
  w.Line("P1019=0");
  w.Line("P996=123");
  w.Line("DIS PLC 31");
  w.Line("CLS");
  return w.ok() ? 1 : 0;
}

int DownloadGantryAutoTuningPLCP1(TuningCard& card, int first, int second, int current_loop,
                                  int bypass_jog) {
  if (!ValidMotor(first) || !ValidMotor(second)) return 0;
  const bool newer = Newer(card);
  ProgramWriter w(card.path, card.device);
  w.Line("ENDG I48=0");
  w.Line("ENDG I48=0");
  w.Line("DELETE GATHER");
  w.Line("DELETE TRACE");
  if (w.ok()) QuickGatherMotor(card, first);
  w.Line("M0->x:0,24");
  w.Line("M1023->*");
  GantryWords(w, newer, first, second);
  GantryProgram(w, newer, first, second, current_loop, bypass_jog, true);
  return w.ok() ? 1 : 0;
}

int DownloadGantryAutoTuningPLC(TuningCard& card, int first, int second, int current_loop,
                                int bypass_jog, float travel, std::int32_t milliseconds) {
  if (!ValidMotor(first) || !ValidMotor(second)) return 0;
  const bool newer = Newer(card);
  ProgramWriter w(card.path, card.device);
  w.Line("DEL GAT");
  w.Line("DEL TRACE");
  w.Line("M1023->*");
  w.Line("M0->x:0,24");
  GantryWords(w, newer, first, second);
  w.Line("P1023=%lf*I%d08*32", static_cast<double>(travel), first);
  w.Line("P1022=%d", milliseconds);
  GantryProgram(w, newer, first, second, current_loop, bypass_jog, false);
  return w.ok() ? 1 : 0;
}

}  // namespace zimo::corvan::tuning

extern "C" {

std::int32_t DownloadAutoTuningPLC(std::uint32_t device, std::int16_t motor,
                                   std::int16_t current_loop, std::int16_t bypass_jog) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DownloadAutoTuningPLC(card, motor, current_loop, bypass_jog);
}

std::int32_t DownloadGantryAutoTuningPLCP1(std::uint32_t device, std::int16_t first,
                                           std::int16_t second, std::int16_t current_loop,
                                           std::int16_t bypass_jog) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DownloadGantryAutoTuningPLCP1(card, first, second, current_loop,
                                                             bypass_jog);
}

std::int32_t DownloadGantryAutoTuningPLC(std::uint32_t device, std::int32_t first,
                                         std::int32_t second, std::int32_t current_loop,
                                         std::int32_t bypass_jog, float travel,
                                         std::int32_t milliseconds) {
  auto card = zimo::corvan::tuning::LibraryTuningCard(device);
  return zimo::corvan::tuning::DownloadGantryAutoTuningPLC(card, first, second, current_loop,
                                                           bypass_jog, travel, milliseconds);
}

}  // extern "C"
