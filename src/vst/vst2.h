/*
 * vst2.h - the VST 2 binary interface as the plug-in uses it: the effect
 * record, the host and plug-in opcodes, event records and the parameter
 * properties record.  Written from the interface's published layout
 * (x86_64 Linux and Win64: natural alignment, identical offsets); our own
 * names throughout.
 */
#ifndef ORKA_VST2_H
#define ORKA_VST2_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define VST_CALL __cdecl
#else
#define VST_CALL
#endif

struct vst_effect;

typedef intptr_t(VST_CALL *vst_hostcb)(struct vst_effect *eff, int32_t opcode, int32_t index,
                                       intptr_t value, void *ptr, float opt);
typedef intptr_t(VST_CALL *vst_dispatch_fn)(struct vst_effect *eff, int32_t opcode, int32_t index,
                                            intptr_t value, void *ptr, float opt);
typedef void(VST_CALL *vst_process_fn)(struct vst_effect *eff, float **in, float **out,
                                       int32_t frames);
typedef void(VST_CALL *vst_process64_fn)(struct vst_effect *eff, double **in, double **out,
                                         int32_t frames);
typedef void(VST_CALL *vst_setparam_fn)(struct vst_effect *eff, int32_t index, float value);
typedef float(VST_CALL *vst_getparam_fn)(struct vst_effect *eff, int32_t index);
typedef struct vst_effect *(VST_CALL *vst_main_fn)(vst_hostcb host);

/* The effect record handed to the host: 192 bytes. */
typedef struct vst_effect {
  int32_t magic; /* VST_MAGIC */
  vst_dispatch_fn dispatcher;
  vst_process_fn process; /* the old accumulating call */
  vst_setparam_fn set_parameter;
  vst_getparam_fn get_parameter;
  int32_t num_programs;
  int32_t num_params;
  int32_t num_inputs;
  int32_t num_outputs;
  int32_t flags;
  intptr_t host_reserved1; /* the host's; never touched */
  intptr_t host_reserved2;
  int32_t initial_delay;
  int32_t real_qualities;
  int32_t off_qualities;
  float io_ratio;
  void *object; /* the plug-in's instance */
  void *user;
  int32_t unique_id;
  int32_t version;
  vst_process_fn process_replacing;
  vst_process64_fn process_double;
  char future[56];
} vst_effect;

#define VST_MAGIC 0x56737450 /* 'VstP' */
#define VST_VERSION 2400

/* Effect flags. */
#define VST_FLAG_HAS_EDITOR 1
#define VST_FLAG_CAN_REPLACING 16
#define VST_FLAG_PROGRAM_CHUNKS 32
#define VST_FLAG_IS_SYNTH 256

/* Plug-in categories. */
#define VST_CATEGORY_EFFECT 1
#define VST_CATEGORY_SYNTH 2

/* Host opcodes. */
#define VST_HOST_AUTOMATE 0
#define VST_HOST_VERSION 1
#define VST_HOST_SIZE_WINDOW 15
#define VST_HOST_UPDATE_DISPLAY 42

/* Plug-in opcodes (0 ... 79). */
enum {
  VST_EFF_OPEN = 0, VST_EFF_CLOSE, VST_EFF_SET_PROGRAM, VST_EFF_GET_PROGRAM,
  VST_EFF_SET_PROGRAM_NAME, VST_EFF_GET_PROGRAM_NAME, VST_EFF_GET_PARAM_LABEL,
  VST_EFF_GET_PARAM_DISPLAY, VST_EFF_GET_PARAM_NAME, VST_EFF_GET_VU, VST_EFF_SET_SAMPLE_RATE,
  VST_EFF_SET_BLOCK_SIZE, VST_EFF_MAINS_CHANGED, VST_EFF_EDIT_GET_RECT, VST_EFF_EDIT_OPEN,
  VST_EFF_EDIT_CLOSE, VST_EFF_EDIT_DRAW, VST_EFF_EDIT_MOUSE, VST_EFF_EDIT_KEY,
  VST_EFF_EDIT_IDLE, VST_EFF_EDIT_TOP, VST_EFF_EDIT_SLEEP, VST_EFF_IDENTIFY,
  VST_EFF_GET_CHUNK, VST_EFF_SET_CHUNK, VST_EFF_PROCESS_EVENTS, VST_EFF_CAN_BE_AUTOMATED,
  VST_EFF_STRING2PARAMETER, VST_EFF_GET_NUM_PROGRAM_CATEGORIES,
  VST_EFF_GET_PROGRAM_NAME_INDEXED, VST_EFF_COPY_PROGRAM, VST_EFF_CONNECT_INPUT,
  VST_EFF_CONNECT_OUTPUT, VST_EFF_GET_INPUT_PROPERTIES, VST_EFF_GET_OUTPUT_PROPERTIES,
  VST_EFF_GET_PLUG_CATEGORY, VST_EFF_GET_CURRENT_POSITION, VST_EFF_GET_DESTINATION_BUFFER,
  VST_EFF_OFFLINE_NOTIFY, VST_EFF_OFFLINE_PREPARE, VST_EFF_OFFLINE_RUN,
  VST_EFF_PROCESS_VAR_IO, VST_EFF_SET_SPEAKER_ARRANGEMENT,
  VST_EFF_SET_BLOCK_SIZE_AND_SAMPLE_RATE, VST_EFF_SET_BYPASS, VST_EFF_GET_EFFECT_NAME,
  VST_EFF_GET_ERROR_TEXT, VST_EFF_GET_VENDOR_STRING, VST_EFF_GET_PRODUCT_STRING,
  VST_EFF_GET_VENDOR_VERSION, VST_EFF_VENDOR_SPECIFIC, VST_EFF_CAN_DO, VST_EFF_GET_TAIL_SIZE,
  VST_EFF_IDLE, VST_EFF_GET_ICON, VST_EFF_SET_VIEW_POSITION, VST_EFF_GET_PARAMETER_PROPERTIES,
  VST_EFF_KEYS_REQUIRED, VST_EFF_GET_VST_VERSION, VST_EFF_EDIT_KEY_DOWN, VST_EFF_EDIT_KEY_UP,
  VST_EFF_NOPCODES = 80
};

/* Events. */
#define VST_EVENT_MIDI 1
#define VST_EVENT_SYSEX 6

typedef struct vst_event {
  int32_t type;
  int32_t byte_size;
  int32_t delta_frames;
  int32_t flags;
  char data[16];
} vst_event;

typedef struct vst_midi_event {
  int32_t type;
  int32_t byte_size;
  int32_t delta_frames;
  int32_t flags;
  int32_t note_length;
  int32_t note_offset;
  unsigned char midi[4]; /* status and up to two data bytes */
  signed char detune;
  unsigned char note_off_velocity;
  unsigned char reserved1, reserved2;
} vst_midi_event;

typedef struct vst_sysex_event {
  int32_t type;
  int32_t byte_size;
  int32_t delta_frames;
  int32_t flags;
  int32_t dump_bytes;
  intptr_t reserved1;
  unsigned char *dump;
  intptr_t reserved2;
} vst_sysex_event;

/* The event list: a count, then as many pointers from offset 16. */
typedef struct vst_events {
  int32_t count;
  intptr_t reserved;
  vst_event *events[2];
} vst_events;

/* Editor rectangle. */
typedef struct vst_rect {
  int16_t top, left, bottom, right;
} vst_rect;

/* Parameter properties: 152 bytes. */
#define VST_PARAM_USES_INT_MINMAX 2
#define VST_PARAM_USES_INT_STEP 8

typedef struct vst_param_props {
  float step, small_step, large_step;
  char label[64];
  int32_t flags;
  int32_t min_integer, max_integer, step_integer, large_step_integer;
  char short_label[8];
  int16_t display_index, category, num_in_category, reserved;
  char category_label[24];
  char future[16];
} vst_param_props;

#ifdef __cplusplus
}

static_assert(sizeof(vst_effect) == 192, "effect record size");
static_assert(offsetof(vst_effect, flags) == 56, "flags offset");
static_assert(offsetof(vst_effect, object) == 96, "object offset");
static_assert(offsetof(vst_effect, unique_id) == 112, "unique id offset");
static_assert(offsetof(vst_effect, process_replacing) == 120, "process offset");
static_assert(sizeof(vst_midi_event) == 32 && offsetof(vst_midi_event, midi) == 24, "midi event");
static_assert(sizeof(vst_sysex_event) == 48 && offsetof(vst_sysex_event, dump) == 32, "sysex");
static_assert(offsetof(vst_events, events) == 16, "event list");
static_assert(sizeof(vst_param_props) == 152 && offsetof(vst_param_props, flags) == 76, "props");
static_assert(sizeof(vst_rect) == 8, "rect");
#endif

#endif /* ORKA_VST2_H */
