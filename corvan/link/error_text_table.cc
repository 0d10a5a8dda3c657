// The library's numbered texts in US English, sorted by number. Numbers not
// listed have no text (a load gives an empty result). Texts are kept exactly
// as users and peers have always seen them, misspellings included, because
// programs compare and log them.
//
// Blocks: 0 detection; 1-18 card error numbers (a reply BEL "ERR"nnn carries
// nnn); 20-32 and 51-54 channel errors; 33-50 PLC compiler errors; 59-71
// motion text converter errors (returned negated); 75-82 checksummed serial
// errors; 83-105 device list and configuration prompts and captions; 200-205
// driver installation; 253-262 DPR and bus detection; 1001-1021 driver and
// transport errors; 3000-3025 motor and coordinate-system status; 3499-3528
// and 3599-3628 why-a-motor-does-not-move (older cards, SPRAN cards: 3500 +
// bit, 3600 + bit); 4000-4019 and 4050-4069 why-a-coordinate-system-does-
// not-move (4000 + bit, 4050 + bit); 4099-4124 file errors; 2001-2027,
// 3100-3113, 5001-6014 and 9001-10012 the NC layer's texts; 9999 the
// application's unknown error.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>

#include "link/error_texts.h"

namespace zimo::corvan {
namespace {

constexpr NumberedText kTexts[] = {
    {0, "The ZIMO was sucessfully detected."},
    {1, "Command not allowed during program execution."},
    {2, "Password not given."},
    {3, "Data error or unrecognized command."},
    {4, "Unknown communication error."},
    {5, "Command not allowed unless buffer is open."},
    {6, "No room in buffer for command."},
    {7, "Buffer already in use."},
    {8, "VARLO I/O Error"},
    {9, "Program structural error."},
    {10, "Both overtravel limits set for a motor in C.S."},
    {11, "Previous move not comleted."},
    {12, "A motor in the coordinate system is open loop."},
    {13, "A motor in the coordinate system is not activated."},
    {14, "There are no motors in the coordinate system."},
    {15, "Not pointing to a valid program buffer."},
    {16, "Running improperly structured program."},
    {17, "Motors in C.S. not at halted position to restart after / or \\ command."},
    {18, "Illegal Motor Enable because of PHASING ERROR or is PHASING"},
    {20, "Maximum ZIMO count reached.."},
    {21, "STD communications not implimented."},
    {22, "Unknown ZIMO BUS type."},
    {23, "Send Response"},
    {24, "CMD Response"},
    {27, "Comm DPR Send Line > 159 char "},
    {28, "Comm BUS Send Line > 200 char"},
    {29, "Comm DPR Send Timeout"},
    {30, "Comm BUS Send Timeout"},
    {31, "Comm DPR Response Timeout"},
    {32, "Comm BUS Response Timeout"},
    {33, "PLCC Unable to pack floating point number"},
    {34, "PLCC Unable to convert string to float number"},
    {35, "PLCC Illegal Command or Format in string"},
    {36, "PLCC Integer number out of range"},
    {37, "PLCC Unmatching parenthesis"},
    {38, "PLCC Illegal Else Cmd"},
    {39, "PLCC Illegal EndIf Cmd"},
    {40, "PLCC Illegal EndWhile Cmd"},
    {41, "PLCC Output File Error"},
    {42, "PLCC Input File Error"},
    {43, "PLCC Unclosed If or While Cmd"},
    {44, "PLCC 56k maximum memory exceeded"},
    {45, "PLCC 56k conversion stack exceeded"},
    {46, "PLCC First pass of Tokens exceeded maximum"},
    {47, "PLCC Far heap allocate error"},
    {48, "PLCC String must be in quotes & < 255 char"},
    {49, "PLCC L-Variable address not defined"},
    {50, "PLCC Two L-Variables with same address definition"},
    {51, "Unable to establish serial communications"},
    {52, "Comm Serial Send Timeout"},
    {53, "Comm Serial Response Timeout"},
    {54, "Could not get complete response, more than maximum characters specified"},
    {59, "RS274 to BIN DPROT Unable to allocate memory"},
    {60, "RS274 to BIN DPROT Unable to pack floating point number"},
    {61, "RS274 to BIN DPROT Unable to convert string to float number"},
    {62, "RS274 to BIN DPROT Illegal Command or Format in string"},
    {63, "RS274 to BIN DPROT Integer number out of range"},
    {64, "RS274 to BIN DPROT Output File Error"},
    {65, "RS274 to BIN DPROT Input File Error"},
    {66, "RS274 to BIN DPROT Exceeded Max number ZIMO cmmmands per line"},
    {67, "RS274 to BIN DPROT Illegal Motor numbers"},
    {68, "RS274 to BIN DPROT Illegal PLC numbers"},
    {69, "RS274 to BIN DPROT Illegal Axis numbers"},
    {70, "RS274 to BIN DPROT DPR or ZIMO Rotary Buffer Size Err"},
    {71, "RS274 to ZIMO FILE Output Error"},
    {75, "Checksum communications error, Bad Data on receive from ZIMO"},
    {76, "Checksum communications error, Bad Acknowledge"},
    {80, "Checksum communications error, Bad Data on Transmit to ZIMO"},
    {81, "Unable to write character to serial port"},
    {82, "Unexpected ASCII response, checkums may be enabled, see I4"},
    {83, "ZIMO Device number %d"},
    {84, "Are you sure you want to remove the device?"},
    {85, "You must remove the current device first?"},
    {86, "The system is out of memory or resources."},
    {87, "The .exe file is invalid (non-Win32 .exe or error in .exe image)."},
    {88, "The specified file: %1, was not found."},
    {89, "The specified path: %1, was not found."},
    {90, "The selected ZIMO type: %1, entry number: %2!d!, was not found in the registry."},
    {91, "Cannot download firmware. The ZIMO is not in bootstrap mode."},
    {92, "The selected location is unknown or is not a valid ZIMO location."},
    {93,
     "Unable to remove device. First close all applications (including the ZIMOSERVER) "
     "communicating to this device."},
    {94,
     "PORT settings cannot be changed while multiple applications are running. First close "
     "all other applications using Corvan32 library."},
    {95,
     "Unable to change PORT settings while device is open. First close all windows "
     "communicating to this device."},
    {101, "ZIMO Communications"},
    {102, "ZIMO CNC"},
    {103, "Incorrect ZIMO.DLL Version."},
    {104, "Requested control number out of range."},
    {105, "Unable to open ZIMO device."},
    {200, "ZIMO Motion Control Device Driver"},
    {201, "Unknown status or error."},
    {203, "The ZIMO driver cannot be removed because of a registry access problem."},
    {204, "You have insufficient privilege to install, remove or configure the ZIMO driver"},
    {205, "Firmware Download failed.  Please try again"},
    {253, "DPRAM not found."},
    {255, "Unable to initialize binary rotary buffer."},
    {257, "DPRAM init failed. BUS init OK.\nCANCEL to abort or OK to continue."},
    {258, "Read/Write Testing Dual Ported RAM"},
    {259, "DPRAM read/write memory test failed."},
    {260, "Unable to locate a ZIMO device on BUS."},
    {261, "Unable to establish DPRAM Communications."},
    {262, "Unable to create services node for driver."},
    {1001, "The ZIMO device object could not be created."},
    {1002, "A hardware conflict was detected."},
    {1003, "The ZIMO could not be detected."},
    {1004, "The ZIMO does not interrupt at this interrupt number."},
    {1005, "The ZIMO interrupt was not detected."},
    {1006, "Timeout during bus read"},
    {1007, "Timeout during dpram ascii read"},
    {1008, "Timeout during serial ascii read"},
    {1009, "The ZIMO is in Bootstrap Mode."},
    {1010, "Unable to configure driver (in registry perhaps)"},
    {1011, "Invalid handle to serial port.  Communication not established."},
    {1020, "Please be patient,  the ZIMO driver will be reloaded next."},
    {1021, "Timeout during communication read"},
    {3001, "Fatal following error."},
    {3108, "ZIMO reset did not occur in time, was too long."},
    {3499, "  Fault: Invalid Motor Number Chosen.\n\n"},
    {3500,
     "Warning: Jog-to-Postition Calculation Time (I12) may be set too low.\n"
     "    I12 is currently set to %ld msec.\n"
     "\n"},
    {3501, "  Fault: Motor #%d is NOT activated.  Set I%d00 = 1.\n\n"},
    {3502,
     "Warning: Motor #%d doesn't contain a known DAC address.\n"
     "    The current DAC address (I%d02) is $%X.\n"
     "\n"},
    {3503,
     "Warning: Motor #%d doesn't contain a known feedback address.\n"
     "    The current feedback address (I%d03) is $%X.\n"
     "\n"},
    {3504, "  Fault: Master Scale Factor (I%d07) CANNOT be set to 0.\n\n"},
    {3505,
     "Warning: Master Scale Factor (I%d07) may be set too high. The current value for I%d07 "
     "is %ld.\n"
     "\n"},
    {3506, "  Fault: Motor Position Scale Factor (I%d08) CANNOT be set to 0.\n\n"},
    {3507,
     "Warning: Motor Position Scale Factor (I%d08) may be set too high.\n"
     "    The current value for I%d08 is %ld.\n"
     "\n"},
    {3508,
     "Warning: Fatal Following Error Limit (I%d11) may be set too low.\n"
     "    The current value for I%d11 is %ld (%.0f counts).\n"
     "\n"},
    {3509,
     "Warning: Max Permitted Velocity (I%d16) may be set too low.\n"
     "    The current value for I%d16 is %f.\n"
     "\n"},
    {3510, "  Fault: Max Permitted Accel (I%d17) should NOT be set to 0.\n\n"},
    {3511,
     "Warning: Max Permitted Accel (I%d17) may be set too low.\n"
     "    The current value for I%d17 is %f.\n"
     "\n"},
    {3512, "  Fault: Max Permitted Jog Accel (I%d19) should NOT be set to 0.\n\n"},
    {3513,
     "Warning: Max Permitted Jog Accel (I%d19) may be set too low.\n"
     "    The current value for I%d19 is %f.\n"
     "\n"},
    {3514,
     "Warning: Jog/Homing Acceleration Time (I%d20) may be set too high.\n"
     "    The current value for I%d20 is %ld msec.\n"
     "\n"},
    {3515,
     "Warning: Jog/Homing S-Curve Time (I%d21) may be set too high.\n"
     "    The current value for I%d21 is %ld msec.\n"
     "\n"},
    {3516,
     "Warning: Jog Speed (I%d22) may be set too low.\n"
     "    The current value for I%d22 is %f.\n"
     "\n"},
    {3517,
     "Warning: Proportional Gain (I%d30) may be set too low.\n"
     "    The current value for I%d30 is %ld.\n"
     "\n"},
    {3518,
     "Warning: Linear Position Error (I%d67) may be set too low.\n"
     "    The current value for I%d67 is %ld (%ld counts).\n"
     "\n"},
    {3519,
     "Warning: Output Command DAC Limit (I%d69) may be set too low.\n"
     "    The current value for I%d69 is %ld (~%.3f volts).\n"
     "\n"},
    {3520,
     "Warning: Your timebase value for coordinate system %s may be set too low.\n"
     "    The current timebase value is %f%%.\n"
     "\n"},
    {3521,
     "  Fault: Motor #%d has run into the positive position limit.\n"
     "    Your positive software limit (I%d13) is set at %ld.\n"
     "\n"},
    {3522,
     "  Fault: Motor #%d has run into the negative position limit.\n"
     "    Your negative software limit (I%d14) is set at %ld.\n"
     "\n"},
    {3523,
     "  Fault: The servo loop on motor #%d is open.\n"
     "    Type #%dJ/ to close the servo loop.\n"
     "\n"},
    {3524,
     "  Fault: Motor #%d has exceeded its following error limit.\n"
     "    Your following error limit (I%d11) is set at %ld.\n"
     "\n"},
    {3525, "  Fault: Amplifier Fault"},
    {3526, "  Fault: I^2 Amplifier Fault"},
    {3527, "  Fault: Integrated Fatal Following Error"},
    {3528, "  Fault: Soft (I-variable, not digital input) position limit exceeded"},
    {3599, "  Fault: Invalid Motor Number Chosen.\n\n"},
    {3600,
     "Warning: Jog-to-Postition Calculation Time (Ixx92) may be set too low.\n"
     "    Ixx92 is currently set to %ld msec.\n"
     "\n"},
    {3601, "  Fault: Motor #%d is NOT activated.  Set I%d00 = 1.\n\n"},
    {3602,
     "Warning: Motor #%d doesn't contain a known Command Output address.\n"
     "    The current address (I%d02) is $%X.\n"
     "\n"},
    {3603,
     "Warning: Motor #%d doesn't contain a known feedback address.\n"
     "    The current feedback address (I%d03) is $%X.\n"
     "\n"},
    {3604, "  Fault: Master Scale Factor (I%d07) CANNOT be set to 0.\n\n"},
    {3605,
     "Warning: Master Scale Factor (I%d07) may be set too high. The current value for I%d07 "
     "is %ld.\n"
     "\n"},
    {3606, "  Fault: Motor Position Scale Factor (I%d08) CANNOT be set to 0.\n\n"},
    {3607,
     "Warning: Motor Position Scale Factor (I%d08) may be set too high.\n"
     "    The current value for I%d08 is %ld.\n"
     "\n"},
    {3608,
     "Warning: Fatal Following Error Limit (I%d11) may be set too low.\n"
     "    The current value for I%d11 is %ld (%.0f counts).\n"
     "\n"},
    {3609,
     "Warning: Max Permitted Velocity (I%d16) may be set too low.\n"
     "    The current value for I%d16 is %f.\n"
     "\n"},
    {3610, "  Fault: Max Permitted Accel (I%d17) should NOT be set to 0.\n\n"},
    {3611,
     "Warning: Max Permitted Accel (I%d17) may be set too low.\n"
     "    The current value for I%d17 is %f.\n"
     "\n"},
    {3612, "  Fault: Max Permitted Jog Accel (I%d19) should NOT be set to 0.\n\n"},
    {3613,
     "Warning: Max Permitted Jog Accel (I%d19) may be set too low.\n"
     "    The current value for I%d19 is %f.\n"
     "\n"},
    {3614,
     "Warning: Jog/Homing Acceleration Time (I%d20) may be set too high.\n"
     "    The current value for I%d20 is %ld msec.\n"
     "\n"},
    {3615,
     "Warning: Jog/Homing S-Curve Time (I%d21) may be set too high.\n"
     "    The current value for I%d21 is %ld msec.\n"
     "\n"},
    {3616,
     "Warning: Jog Speed (I%d22) may be set too low.\n"
     "    The current value for I%d22 is %f.\n"
     "\n"},
    {3617,
     "Warning: Proportional Gain (I%d30) may be set too low.\n"
     "    The current value for I%d30 is %ld.\n"
     "\n"},
    {3618,
     "Warning: Linear Position Error (I%d67) may be set too low.\n"
     "    The current value for I%d67 is %ld (%ld counts).\n"
     "\n"},
    {3619,
     "Warning: Output Command Limit (I%d69) may be set too low.\n"
     "    The current value for I%d69 is %ld (~%.3f volts).\n"
     "\n"},
    {3620,
     "Warning: Your timebase value for coordinate system %s may be set too low.\n"
     "    The current timebase value is %f%%.\n"
     "\n"},
    {3621,
     "  Fault: Motor #%d has run into the positive position limit.\n"
     "    Your positive software limit (I%d13) is set at %ld.\n"
     "\n"},
    {3622,
     "  Fault: Motor #%d has run into the negative position limit.\n"
     "    Your negative software limit (I%d14) is set at %ld.\n"
     "\n"},
    {3623,
     "  Fault: The servo loop on motor #%d is open.\n"
     "    Type #%dJ/ to close the servo loop.\n"
     "\n"},
    {3624,
     "  Fault: Motor #%d has exceeded its following error limit.\n"
     "    Your following error limit (I%d11) is set at %ld.\n"
     "\n"},
    {3625, "  Fault: Amplifier Fault"},
    {3626, "  Fault: I^2 Amplifier Fault"},
    {3627, "  Fault: Integrated Fatal Following Error"},
    {3628, "  Fault: Soft (I-variable, not digital input) position limit exceeded"},
    {4000,
     "Warning: Programmed Move Calculation Time (I11) may be set too low.\n"
     "    I11 is currently set to %ld msec.\n"
     "\n"},
    {4001,
     "Warning: Programmed Move Segmentation Time (I13) may be set too low for doing circles.\n"
     "    I13 is currently set to %ld msec.\n"
     "    (Disregard this message if you are NOT doing circles.)\n"
     "\n"},
    {4002,
     "Warning: Programmed Move Segmentation Time (I13) may be set too hi for doing circles.\n"
     "    I13 is currently set to %ld msec.\n"
     "\n"},
    {4003,
     "Warning: Coordinate System #%d's Default Accel Time may be set too high.\n"
     "    I%d87 is currently set to %ld msec.\n"
     "\n"},
    {4004,
     "Warning: Coordinate System #%d's S-Curve Time may be set too high.\n"
     "    I%d88 is currently set to %ld msec.\n"
     "\n"},
    {4005,
     "Warning: Coordinate System #%d's Default Feedrate may be too small.\n"
     "    I%d89 is currently set to %f.\n"
     "\n"},
    {4006,
     "Warning: Coordinate System #%d's Default Feedrate Time Units may be set too high.\n"
     "    I%d90 is currently set to %.0f.\n"
     "\n"},
    {4007,
     "Warning: Coordinate System #%d's Timebase Slew Rate may be set too small.\n"
     "    I%d94 is currently set to %.0f.\n"
     "\n"},
    {4008,
     "Warning: Coordinate System #%d's Circle Error Limit may be set too small.\n"
     "    I%d96 is currently set to %f.\n"
     "\n"},
    {4009,
     "Warning: Your timebase value may be set too low.\n"
     "    The current timebase value is %f%%.\n"
     "\n"},
    {4010,
     "  Fault: Your program pointer is NOT pointing to any program.\n"
     "    Use, for example, B1 to point to the start of program 1.\n"
     "\n"},
    {4011, "  Fault: You have NO motors defined in this coordinate system.\n\n"},
    {4012,
     "Unable to determine potential cause(s) of problem.\n"
     "    Be sure your motors & encoders are connected properly and that\n"
     "    you have voltage on the voltage regulators' outputs for the DACs.\n"
     "\n"},
    {4013,
     "Warning: Servo Interrupt Time (I10) may be too low\n"
     "    I10 is currently set to %ld.\n"
     "\n"},
    {4014, "Warning: Feedrate hold implemented using the '\\' command"},
    {4015,
     "  Fault: A RUNTIME ERROR has occurred (e.g. Jump to non-existant label, insufficeint "
     "calculation time"},
    {4016,
     "  Fault: A CIRCLE RADIUS ERROR has occurred.\n"
     "  (e.g. program was asked to do an arc move whose distance\n"
     "  was more than twice the radius (by an amount greater than Ix96)"},
    {4017,
     "  Fault: An amplifier fault has occurred.\n"
     "  Check all motors in the coordinate system, see Why Motor Not Moving"},
    {4018,
     "  Fault: A FATAL FOLLOWING ERROR has occurred.\n"
     "  Check all motors in the coordinate system, see Why Motor Not Moving"},
    {4019,
     "Warning: A WARNING FOLLOWING ERROR has occurred on one of the motors in the coordinate "
     "system"},
    {4050,
     "Warning: Programmed Move Calculation Time (I11) may be set too low.\n"
     "    I11 is currently set to %ld msec.\n"
     "\n"},
    {4051,
     "Warning: Programmed Move Segmentation Time (Isx13) may be set too low for doing "
     "circles.\n"
     "    I13 is currently set to %ld msec.\n"
     "    (Disregard this message if you are NOT doing circles.)\n"
     "\n"},
    {4052,
     "Warning: Programmed Move Segmentation Time (Isx13) may be set too hi for doing "
     "circles.\n"
     "    I13 is currently set to %ld msec.\n"
     "\n"},
    {4053,
     "Warning: Coordinate System #%d's Default Accel Time may be set too high.\n"
     "    I%d87 is currently set to %ld msec.\n"
     "\n"},
    {4054,
     "Warning: Coordinate System #%d's S-Curve Time may be set too high.\n"
     "    I%d88 is currently set to %ld msec.\n"
     "\n"},
    {4055,
     "Warning: Coordinate System #%d's Default Feedrate may be too small.\n"
     "    I%d89 is currently set to %f.\n"
     "\n"},
    {4056,
     "Warning: Coordinate System #%d's Default Feedrate Time Units may be set too high.\n"
     "    I%d90 is currently set to %.0f.\n"
     "\n"},
    {4057,
     "Warning: Coordinate System #%d's Timebase Slew Rate may be set too small.\n"
     "    I%d94 is currently set to %.0f.\n"
     "\n"},
    {4058,
     "Warning: Coordinate System #%d's Circle Error Limit may be set too small.\n"
     "    I%d96 is currently set to %f.\n"
     "\n"},
    {4059,
     "Warning: Your timebase value may be set too low.\n"
     "    The current timebase value is %f%%.\n"
     "\n"},
    {4060,
     " Fault: Your program pointer is NOT pointing to any program.\n"
     "    Use, for example, B1 to point to the start of program 1.\n"
     "\n"},
    {4061, " Fault: You have NO motors defined in this coordinate system.\n\n"},
    {4062,
     "Unable to determine potential cause(s) of problem.\n"
     "    Be sure your motors & encoders are connected properly and that\n"
     "    you have voltage on the voltage regulators' outputs for the DACs.\n"
     "\n"},
    {4063,
     "Warning: Servo Interrupt Time (I10) may be too low\n"
     "    I10 is currently set to %ld.\n"
     "\n"},
    {4064, "Warning: Feedrate hold implemented using the '\\' command"},
    {4065,
     "  Fault: A RUNTIME ERROR has occurred (e.g. Jump to non-existant label, insufficeint "
     "calculation time"},
    {4066,
     "  Fault: A CIRCLE RADIUS ERROR has occurred.\n"
     "    (e.g. program was asked to do an arc move whose distance\n"
     "  was more than twice the radius (by an amount greater than Ix96)"},
    {4067,
     "  Fault: An amplifier fault has occurred.\n"
     "    Check all motors in the coordinate system, see Why Motor Not Moving"},
    {4068,
     "  Fault: A FATAL FOLLOWING ERROR has occurred.\n"
     "    Check all motors in the coordinate system, see Why Motor Not Moving"},
    {4069,
     "Warning: A WARNING FOLLOWING ERROR has occurred on one of the motors in the coordinate "
     "system"},
    {4099, "Unable to open vars.dat file."},
    {4102, "No such file or directory."},
    {4109, "Bad file number."},
    {4113, "Permission denied."},
    {4117, "Files exist."},
    {4122, "Invalid argument."},
    {4124, "Too many open files."},
    {9104, "Division by zero"},
    {9999, "Unknown error supplied by application."},
    {10005, "No I, K or R command found on G2/G3 block."},
};

constexpr bool SortedByNumber() {
  for (std::size_t i = 1; i < std::size(kTexts); ++i) {
    if (kTexts[i - 1].number >= kTexts[i].number) return false;
  }
  return true;
}
// Lookups search the table by halves.
static_assert(SortedByNumber());

constexpr bool EveryTextFitsItsBuffer() {
  for (const NumberedText& t : kTexts) {
    if (std::char_traits<char>::length(t.text) >= kLoadedTextSize) return false;
  }
  return true;
}
static_assert(EveryTextFitsItsBuffer());

}  // namespace

std::span<const NumberedText> BuiltInTextTable() { return kTexts; }

}  // namespace zimo::corvan
