/* qeldll32: helpers of the lab program: plot files and their text export,
 * curves and axes, discrete forms of continuous controllers, and small file,
 * text and card-word functions.
 *
 * Plain C calls on 8-bit NUL-ended texts, plain arrays and packed records.
 * 16-bit results: 1 done, 0 failed, where a function says nothing else. */
#ifndef LABHELPER_QELDLL32_H_
#define LABHELPER_QELDLL32_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* One gathered data set as the lab program hands it over (288 bytes). */
typedef struct PlotRecord {
  int32_t gather_period; /* servo cycles per gathered sample */
  int32_t servo_time;    /* servo interrupt time, 1/8388608 ms */
  int32_t sample_count;  /* samples in each channel array */
  float channel_min[14]; /* the caller's; never touched here */
  float channel_max[14]; /* the caller's; never touched here */
  float sweep_time;      /* sine-sweep duration, s */
  float sweep_start_frequency;
  float sweep_end_frequency;
  double sample_period;  /* seconds per control sample */
  int32_t channel_mask;  /* which channel arrays hold data (QEL_CH_*) */
  int32_t left_signals;  /* signal set on the left axis */
  int32_t right_signals; /* signal set on the right axis */
  int16_t sweep_mode;
  uint8_t reserved[2];
  char title[128];
} PlotRecord;

/* Header of a version 4.0 / 4.1 plot file (233 bytes, no padding). */
typedef struct PlotFileHeader {
  char version[60];
  int16_t mode; /* 2: sine-sweep data, else 1 */
  char title[129];
  double sample_period;
  int32_t gather_period;
  int32_t channel_mask;
  int32_t left_signals;
  int32_t right_signals;
  int32_t sample_count;
  int16_t sweep_mode;
  float sweep_start_frequency;
  float sweep_end_frequency;
  float sweep_time;
} PlotFileHeader;

#pragma pack(pop)

/* The layouts are fixed by the lab program and by stored files. */
#ifdef __cplusplus
#define QEL_LAYOUT(cond) static_assert(cond, #cond)
#else
#define QEL_LAYOUT(cond) _Static_assert(cond, #cond)
#endif
QEL_LAYOUT(sizeof(PlotRecord) == 288);
QEL_LAYOUT(offsetof(PlotRecord, gather_period) == 0);
QEL_LAYOUT(offsetof(PlotRecord, servo_time) == 4);
QEL_LAYOUT(offsetof(PlotRecord, sample_count) == 8);
QEL_LAYOUT(offsetof(PlotRecord, channel_min) == 12);
QEL_LAYOUT(offsetof(PlotRecord, channel_max) == 68);
QEL_LAYOUT(offsetof(PlotRecord, sweep_time) == 124);
QEL_LAYOUT(offsetof(PlotRecord, sweep_start_frequency) == 128);
QEL_LAYOUT(offsetof(PlotRecord, sweep_end_frequency) == 132);
QEL_LAYOUT(offsetof(PlotRecord, sample_period) == 136);
QEL_LAYOUT(offsetof(PlotRecord, channel_mask) == 144);
QEL_LAYOUT(offsetof(PlotRecord, left_signals) == 148);
QEL_LAYOUT(offsetof(PlotRecord, right_signals) == 152);
QEL_LAYOUT(offsetof(PlotRecord, sweep_mode) == 156);
QEL_LAYOUT(offsetof(PlotRecord, title) == 160);
QEL_LAYOUT(sizeof(PlotFileHeader) == 233);
QEL_LAYOUT(offsetof(PlotFileHeader, version) == 0);
QEL_LAYOUT(offsetof(PlotFileHeader, mode) == 60);
QEL_LAYOUT(offsetof(PlotFileHeader, title) == 62);
QEL_LAYOUT(offsetof(PlotFileHeader, sample_period) == 191);
QEL_LAYOUT(offsetof(PlotFileHeader, gather_period) == 199);
QEL_LAYOUT(offsetof(PlotFileHeader, channel_mask) == 203);
QEL_LAYOUT(offsetof(PlotFileHeader, left_signals) == 207);
QEL_LAYOUT(offsetof(PlotFileHeader, right_signals) == 211);
QEL_LAYOUT(offsetof(PlotFileHeader, sample_count) == 215);
QEL_LAYOUT(offsetof(PlotFileHeader, sweep_mode) == 219);
QEL_LAYOUT(offsetof(PlotFileHeader, sweep_start_frequency) == 221);
QEL_LAYOUT(offsetof(PlotFileHeader, sweep_end_frequency) == 225);
QEL_LAYOUT(offsetof(PlotFileHeader, sweep_time) == 229);
#undef QEL_LAYOUT

/* Channel bits of PlotRecord.channel_mask. */
enum {
  QEL_CH_COMMANDED = 0x01,
  QEL_CH_ENCODER1 = 0x02,
  QEL_CH_ENCODER2 = 0x04,
  QEL_CH_ENCODER3 = 0x08,
  QEL_CH_Q10 = 0x10,
  QEL_CH_Q11 = 0x20,
  QEL_CH_Q12 = 0x40,
  QEL_CH_Q13 = 0x80,
  QEL_CH_COMMANDED2 = 0x100,
  QEL_CH_ENCODER4 = 0x200,
  QEL_CH_CONTROL_EFFORT = 0x400,
  QEL_CH_DISTURBANCE = 0x800
};

/* Plot files and text export. Channel arrays come in this order: commanded,
 * encoder 1, encoder 2, encoder 3, control effort, disturbance (or control
 * effort 2), Q10, Q11, Q12, Q13; the "2" forms add commanded 2, a further
 * array (read only by export_plot2) and encoder 4. */
int16_t save_plot_file(const char* file_name, const PlotRecord* record, const double* cmd,
                       const double* enc1, const double* enc2, const double* enc3,
                       const double* effort, const double* disturbance, const double* q10,
                       const double* q11, const double* q12, const double* q13, int16_t mode);
int16_t save_plot_file2(const char* file_name, const PlotRecord* record, const double* cmd,
                        const double* enc1, const double* enc2, const double* enc3,
                        const double* effort, const double* disturbance, const double* q10,
                        const double* q11, const double* q12, const double* q13, const double* cmd2,
                        const double* extra, const double* enc4, int16_t mode);
int16_t load_plot_file(const char* file_name, PlotRecord* record, double* cmd, double* enc1,
                       double* enc2, double* enc3, double* effort, double* disturbance, double* q10,
                       double* q11, double* q12, double* q13, int16_t* mode);
int16_t load_plot_file2(const char* file_name, PlotRecord* record, double* cmd, double* enc1,
                        double* enc2, double* enc3, double* effort, double* disturbance,
                        double* q10, double* q11, double* q12, double* q13, double* cmd2,
                        double* extra, double* enc4, int16_t* mode);
int16_t export_plot(const char* file_name, const PlotRecord* record, const double* cmd,
                    const double* enc1, const double* enc2, const double* enc3,
                    const double* effort, const double* disturbance, const double* q10,
                    const double* q11, const double* q12, const double* q13, int16_t kind);
int16_t export_plot2(const char* file_name, const PlotRecord* record, const double* cmd,
                     const double* enc1, const double* enc2, const double* enc3,
                     const double* effort, const double* disturbance, const double* q10,
                     const double* q11, const double* q12, const double* q13, const double* cmd2,
                     const double* extra, const double* enc4, int16_t kind, int16_t decimals,
                     int32_t channel_mask);
void get_min_max_val(const double* values, int16_t count, double* minimum, double* maximum);

/* Curve arrays and axis scaling. The curve builders write the axis label and
 * a unit suffix into fixed-length, blank-padded buffers without a
 * terminator: the label buffer must hold 25 characters, the unit buffer 5. */
double fceil(double x);
double get_tick_space(double minimum, double maximum);
void get_max_min_using_tick_space(double* minimum, double* maximum, double tick);
int16_t generate_X_axis_time_scale(int16_t count, int16_t divisor, double* out, double period,
                                   double offset);
int16_t generate_X_axis_log_freq_scale(int16_t count, int16_t divisor, double* out,
                                       int32_t servo_time, int32_t gather_period,
                                       double start_frequency, double end_frequency,
                                       double sweep_time);
double get_first_derivative(int16_t index, const double* values, double dt, int16_t count);
double get_second_derivative(int16_t index, const double* values, double dt, int16_t count);
void convert_to_db(double* values, int16_t count);
void remove_DC_bias(double* values, int16_t count);
int16_t generate_curve_data_array(double* out, int32_t code, int16_t count, int32_t divisor,
                                  float dt, char* label, char* unit, double scale,
                                  const double* cmd, const double* enc1, const double* enc2,
                                  const double* enc3, const double* effort,
                                  const double* disturbance, const double* q10, const double* q11,
                                  const double* q12, const double* q13, int16_t kind);
int16_t generate_curve_data_array2(double* out, int32_t code, int16_t count, int32_t divisor,
                                   float dt, char* label, char* unit, double scale,
                                   const double* cmd, const double* enc1, const double* enc2,
                                   const double* enc3, const double* effort,
                                   const double* disturbance, const double* q10, const double* q11,
                                   const double* q12, const double* q13, const double* cmd2,
                                   const double* effort2, const double* enc4, int16_t kind);
int32_t copy_arrays_to_single(double* points, const double* x, const double* y, int32_t count,
                              int16_t kind);
int32_t copy_arrays_to_single_and_scale(double* points, const double* x, const double* y,
                                        int32_t count, int16_t kind, double scale);
void copy_array_single(int32_t* destination, const int32_t* source, int32_t count);

/* Continuous-to-discrete conversions. Polynomials hold 8 doubles, element k
 * the coefficient of s^k (continuous) or z^-k (discrete). Controller records
 * are rows of 9 doubles. */
void convert_s_to_z(double* out, const double* in, int16_t order, double sample_time);
int16_t C_to_D_convert(double* numerator, double* denominator, int16_t order, double sample_time);
int16_t convert_feed_forward_continuous(const double* in, double* numerator, double* denominator,
                                        double sample_time);
int16_t convert_general_form_continuous(double* discrete, const double* continuous,
                                        double sample_time);
int16_t convert_dynamic_prefilter_continuous(const double* continuous, double* discrete,
                                             double* continuous_out, double sample_time);
int16_t convert_dynamic_feedforward_continuous(const double* continuous, double* discrete,
                                               double* continuous_out, double sample_time);
int16_t convert_pid_notch_continuous(const double* pid_notch, double* discrete,
                                     double* continuous_out, double sample_time);

/* File, text and card-word helpers. The line buffer of read_a_line_from_file
 * holds at least 256 bytes; the word buffer of get_parameter at least 260. */
int16_t open_file(const char* path);
int16_t read_a_line_from_file(char* line, int16_t* raw_length);
int32_t close_file(void);
int16_t file_exists(const char* path);
int32_t get_file_size(const char* path);
int16_t get_current_directory(char* buffer, int16_t size);
int16_t get_parameter(const char* text, char* word, int32_t n);
int16_t strip_off_extra(char* text);
int32_t cast_to_long(double x);
int32_t hex_long(const char* text);
double convert_short_word_to_long(const char* text);
double convert_word_to_long(const char* text);
double convert_word_to_double(const char* text);

/* The student's algorithm. check_for_BEGIN_and_END gives 1 when BEGIN and,
 * later, END stand in the text (any case) and adds a line feed to a text
 * that does not end in one: the text's buffer holds one byte more; a text
 * of 65535 bytes or more is refused (0, untouched).
 * demacrotize_the_file writes the card source "plc0.$$$" in the current
 * folder (the name argument is not used): 0 done, 1 duplicate macro,
 * 2 the file cannot be made. compile_the_file turns it into card commands
 * with the routine addresses of "LISTLINK.TXT": 0 done, 1 a line refused
 * (its student line shown), 2 an input or link list that cannot be read. */
int16_t check_for_BEGIN_and_END(char* text);
int16_t demacrotize_the_file(char* text, const char* output_name, float sample_time);
int16_t compile_the_file(const char* input, const char* output);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* LABHELPER_QELDLL32_H_ */
