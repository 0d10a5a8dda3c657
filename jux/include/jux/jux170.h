/* libjux170.so: up to eight cards, each held in a 352-byte record and
   reached through the bus ports, the DPR mailbox or a serial port.
   Card calls take the record first; nonzero means success, and on failure
   the error code is in r->last_error (the global one without a record).
   Time-outs count polls. A reader's `size` is its character count; the
   buffer needs size + 1 bytes and is always terminated. */
#ifndef JUX_JUX170_H_
#define JUX_JUX170_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)
/* The card record: the caller's image, the library's record and the card
   settings file are the same 352 bytes. The words at 320, 340 and 344 hold
   32-bit tokens (0 = none), never addresses: the real port handle and DPR
   window stay inside the library, per slot. */
typedef struct tagMCardInfo {
  int32_t last_error;     /* 0: code of the last failure */
  int32_t send_status;    /* 4: send time-out code; -1234: error held globally */
  char name[260];         /* 8: settings name */
  int32_t method;         /* 268: 0 bus, 1 DPR, 2 serial, 3 simulated */
  int32_t retries;        /* 272 */
  int32_t connected;      /* 276 */
  int32_t simulated;      /* 280 */
  int32_t timeout;        /* 284: polls */
  int32_t reserved1;      /* 288 */
  int32_t poll_interval;  /* 292 */
  int32_t reserved2;      /* 296 */
  int32_t bus_base;       /* 300 */
  int32_t bootstrap;      /* 304 */
  int32_t bus_open;       /* 308 */
  int32_t dpr_open;       /* 312 */
  int32_t dpr_base;       /* 316: physical address of the DPR window */
  uint32_t serial_handle; /* 320: token of the open COM port */
  int32_t serial_open;    /* 324 */
  int32_t com_port;       /* 328: 1 to 16 */
  int32_t baud_rate;      /* 332: 0 = search */
  int32_t slot;           /* 336: 0 to 7 */
  uint32_t dpr_view;      /* 340: token of the mapped window */
  uint32_t mailbox;       /* 344: dpr_view + 1580 */
  int32_t bus_type;       /* 348: 1 ISA, 2 VME */
} tagMCardInfo;
#pragma pack(pop)

#ifdef __cplusplus
#define JUX_STATIC_ASSERT(c) static_assert(c, #c)
#else
#define JUX_STATIC_ASSERT(c) _Static_assert(c, #c)
#endif
JUX_STATIC_ASSERT(sizeof(tagMCardInfo) == 352);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, send_status) == 4);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, name) == 8);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, method) == 268);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, retries) == 272);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, connected) == 276);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, simulated) == 280);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, timeout) == 284);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, reserved1) == 288);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, poll_interval) == 292);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, reserved2) == 296);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, bus_base) == 300);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, bootstrap) == 304);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, bus_open) == 308);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, dpr_open) == 312);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, dpr_base) == 316);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, serial_handle) == 320);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, serial_open) == 324);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, com_port) == 328);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, baud_rate) == 332);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, slot) == 336);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, dpr_view) == 340);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, mailbox) == 344);
JUX_STATIC_ASSERT(offsetof(tagMCardInfo, bus_type) == 348);

/* Error codes (texts through PGetLastErrorString). */
enum {
  JUX_ERR_NONE = 0,
  JUX_ERR_OUT_OF_MEMORY = 1001,
  JUX_ERR_BAD_PARAMETER = 1005,
  JUX_ERR_NOT_CONNECTED = 1006,
  JUX_ERR_MAX_CARDS = 1007,
  JUX_ERR_DRIVER_REGISTERED = 1008,
  JUX_ERR_DRIVER_START = 1009,
  JUX_ERR_DPR_IN_USE = 1010,
  JUX_ERR_PORT_IN_USE = 1011,
  JUX_ERR_BUS_CARD_NOT_FOUND = 2001,
  JUX_ERR_BUS_RECEIVE_TIMEOUT = 2002,
  JUX_ERR_BUS_NOT_OPEN = 2003,
  JUX_ERR_BUS_SEND_TIMEOUT = 2004,
  JUX_ERR_SER_BAD_PORT = 3001,
  JUX_ERR_SER_BAD_BAUD = 3002,
  JUX_ERR_SER_SEND_TIMEOUT = 3003,
  JUX_ERR_SER_RECEIVE_TIMEOUT = 3004,
  JUX_ERR_SER_BREAK = 3005,
  JUX_ERR_SER_FRAME = 3006,
  JUX_ERR_SER_IO = 3007,
  JUX_ERR_SER_OVERRUN = 3008,
  JUX_ERR_SER_PARITY = 3009,
  JUX_ERR_SER_TX_FULL = 3010,
  JUX_ERR_SER_RX_OVER = 3011,
  JUX_ERR_SER_NO_CARD = 3012,
  JUX_ERR_SER_OPEN = 3013,
  JUX_ERR_SER_GET_STATE = 3014,
  JUX_ERR_SER_SET_STATE = 3015,
  JUX_ERR_DPR = 4001,
  JUX_ERR_DPR_SEND_TIMEOUT = 4002,
  JUX_ERR_DPR_NOT_OPEN = 4003,
  JUX_ERR_DPR_RECEIVE_TIMEOUT = 4004,
  JUX_ERR_DPR_INIT = 4005,
  JUX_ERR_STRING_TOO_LONG = 5001
};

/* Start-up, shut-down, errors and the settings file. */
tagMCardInfo* JUXInit(tagMCardInfo* image);
int JUXShutDown(tagMCardInfo** record);
int POpenChannel(tagMCardInfo* record);
int PSetTimeout(tagMCardInfo* record, long timeout);
long PGetLastError(tagMCardInfo* record);
long PGetLastGlobalError(void);
int PGetLastErrorString(tagMCardInfo* record, char* buffer, int size);
int PSetLastError(tagMCardInfo* record, long code);
int PStoreState(const tagMCardInfo* image, const char* name);
int PRestoreState(tagMCardInfo* image, const char* name);
int PFirstTime(const char* name);

/* The P-layer: each picks the channel by the record's method. */
int PSendChar(tagMCardInfo* record, char c);
int PSendLine(tagMCardInfo* record, const char* line);
int PSendCommand(tagMCardInfo* record, const char* line);
int PIsLineWaiting(tagMCardInfo* record);
int PGetLine(tagMCardInfo* record, char* buffer, unsigned size);
int PGetLineCR(tagMCardInfo* record, char* buffer, unsigned size);
int PGetControlResponse(tagMCardInfo* record, char* buffer, unsigned size, char c);
int PGetResponse(tagMCardInfo* record, char* buffer, unsigned size, const char* command);
int PFlush(tagMCardInfo* record);

char* szStripControlChar(char* text);
char* szStripWhiteSpace(char* text);

/* Bus-port channel. */
int BUSInit(tagMCardInfo* record);
int BUSCardOnLine(tagMCardInfo* record);
int BUSCloseComm(tagMCardInfo* record);
int BUSSendChar(tagMCardInfo* record, char c);
int BUSSendLine(tagMCardInfo* record, const char* line);
int BUSGetLine(tagMCardInfo* record, char* buffer, int size);
int BUSGetLineCR(tagMCardInfo* record, char* buffer, int size);
int BUSSendCommand(tagMCardInfo* record, const char* line);
int BUSGetControlResponse(tagMCardInfo* record, char* buffer, int size, char c);
int BUSGetResponse(tagMCardInfo* record, char* buffer, int size, const char* command);
int BUSFlush(tagMCardInfo* record);
int BUSIsLineWaiting(tagMCardInfo* record);

/* Serial channel. */
int SERInit(tagMCardInfo* record);
int SERCloseComm(tagMCardInfo* record);
int SERFindBaudrate(tagMCardInfo* record);
int SERCardOnLine(tagMCardInfo* record);
int SERSendChar(tagMCardInfo* record, char c);
int SERSendLine(tagMCardInfo* record, const char* line);
int SERGetLine(tagMCardInfo* record, char* buffer, unsigned size);
int SERGetLineCR(tagMCardInfo* record, char* buffer, unsigned size);
int SERSendCommand(tagMCardInfo* record, const char* line);
int SERGetResponse(tagMCardInfo* record, char* buffer, unsigned size, const char* command);
int SERGetControlResponse(tagMCardInfo* record, char* buffer, unsigned size, char c);
int SERFlush(tagMCardInfo* record);
int SERIsLineWaiting(tagMCardInfo* record);
int SERCanSendChar(tagMCardInfo* record);

/* DPR mailbox channel. */
int DPRInit(tagMCardInfo* record);
int DPRShutdown(tagMCardInfo* record);
int DPRSendChar(tagMCardInfo* record, char c);
int DPRSendLine(tagMCardInfo* record, const char* line);
int DPRGetLine(tagMCardInfo* record, char* buffer, unsigned size);
int DPRGetLineCR(tagMCardInfo* record, char* buffer, unsigned size);
int DPRGetControlResponse(tagMCardInfo* record, char* buffer, unsigned size, char c);
int DPRGetResponse(tagMCardInfo* record, char* buffer, unsigned size, const char* command);
int DPRFlush(tagMCardInfo* record);
int DPRSendCommand(tagMCardInfo* record, const char* line);
int DPRIsLineWaiting(tagMCardInfo* record);

/* DPR data access (the mapped window). */
unsigned short PDPRGetWord(tagMCardInfo* record, char bank, long offset);
int PDPRSetWord(tagMCardInfo* record, char bank, long offset, unsigned short value);
unsigned long PDPRGetDWord(tagMCardInfo* record, long offset);
int PDPRSetDWord(tagMCardInfo* record, long offset, unsigned long value);
float PDPRGetFloat(tagMCardInfo* record, long offset);
int PDPRSetFloat(tagMCardInfo* record, long offset, float value);
int PDPRDWordSetBit(tagMCardInfo* record, long offset, int bit);
int PDPRDWordResetBit(tagMCardInfo* record, long offset, int bit);
int PDPRDWordBitSet(tagMCardInfo* record, long offset, int bit);
double PDPRDouble(long least, long most);
double PDPRFixed(long least, long most);

/* The control the active list and the periodic command table know: its
   card record, and the two calls the table makes on it. */
typedef struct JuxControl {
  tagMCardInfo* record;                            /* the control's card, or null */
  void (*refresh)(struct JuxControl* self);        /* repaint */
  int (*ambient_ui_dead)(struct JuxControl* self); /* nonzero: do not repaint; may be null */
  void* user;
} JuxControl;

void add_myself_to_the_active_Vocto_list(JuxControl* control);
void remove_myself_from_the_active_Vocto_list(JuxControl* control);
int get_Vocto_m_struct_address(JuxControl* caller, const char* name, tagMCardInfo** record);
int FindCardByName(const char* name, tagMCardInfo** record);
int add_to_command_table(JuxControl* control, char* command, long interval, short kind);
int remove_from_command_table(JuxControl* control);
int get_ZIMO_response_string(JuxControl* control, char* buffer);
int set_ZIMO_command_string(JuxControl* control, const char* command, int in_place);
int set_ZIMO_command_interval(JuxControl* control, long interval);
int update_commands_in_table(tagMCardInfo* record, int send);

/* Gather helpers. */
long get_gather_Ivars(const char* name, long* ivars);
long get_num_samples_from_DPRAM(const char* name, long location);
long get_total_24bit_sources(const char* name, long* ivars);
long get_24bit_word_offset_in_ZIMO_gather_array(const char* name, long index, long* ivars);
long copy_gathered_data_from_DPRAM(const char* name, long source, char type, double* values,
                                   long* count, double* minimum, double* maximum, long stride,
                                   double scale, long mask, double offset, long count_location,
                                   long start);
void get_first_derivative(double* samples, long n);

/* Port-I/O helper driver. */
typedef struct HwPortRangeRec* HwPortRange;
int HwIsDriverConfigured(void);
int HwConfigureDriver(void);
HwPortRange HwNewPortRange(unsigned long first, unsigned long count);
unsigned char HwInp(HwPortRange range, unsigned long offset);
int HwOutp(HwPortRange range, unsigned long offset, unsigned char value);
int HwDeletePort(HwPortRange range);

#ifdef __cplusplus
}
#endif

#endif /* JUX_JUX170_H_ */
