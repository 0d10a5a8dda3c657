// Corvan32, the communications library of the Zimo motion-controller cards:
// every exported function, for programs that link libcorvan32.so.
#pragma once

#include "corvan/corvan32_config.h"

#include "corvan/bus_api.h"
#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/device_level_api.h"
#include "corvan/download_api.h"
#include "corvan/dpr_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/dpr_test_api.h"
#include "corvan/errors.h"
#include "corvan/eth_api.h"
#include "corvan/firmware_api.h"
#include "corvan/gather_api.h"
#include "corvan/identify_api.h"
#include "corvan/interrupt_api.h"
#include "corvan/panel_api.h"
#include "corvan/plcc_api.h"
#include "corvan/program_info_api.h"
#include "corvan/registry_api.h"
#include "corvan/rings_api.h"
#include "corvan/rotary_api.h"
#include "corvan/serial_api.h"
#include "corvan/services_api.h"
#include "corvan/status_api.h"
#include "corvan/status_query_api.h"
#include "corvan/tuning_api.h"
#include "corvan/user_handle_api.h"
#include "corvan/varbuf_api.h"
#include "corvan/variables_api.h"
#include "corvan/vme_api.h"
#include "corvan/word_formats_api.h"
/* The configuration dialogs, in builds that carry them. */
#if CORVAN32_HAS_DIALOGS
#include "corvan/dialogs_api.h"
#endif
