/* An ALSA control plugin presenting a classic sound card mixer without any
 * hardware, for testing the ALSA mixer back end: Master, PCM, Mic, Line and CD
 * playback controls, a Capture volume and switch, and an enumerated
 * "Capture Source" choosing Mic, Line or CD.  The values live in the loaded
 * module, so every open in a process sees what another one wrote.  Not part of
 * the program: the tests build it as a module and name it in an ALSA
 * configuration of their own. */
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <stdlib.h>
#include <string.h>

enum { kInteger, kBoolean, kEnumerated };

struct element {
    const char* name;
    snd_ctl_elem_iface_t iface;
    int type;
    unsigned int count;
    long max;
    long values[2];
};

static struct element elements[] = {
    {"Master Playback Volume", SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 31, {31, 31}},
    {"Master Playback Switch", SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"PCM Playback Volume", SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 255, {200, 200}},
    {"Mic Playback Volume", SND_CTL_ELEM_IFACE_MIXER, kInteger, 1, 31, {10, 10}},
    {"Mic Playback Switch", SND_CTL_ELEM_IFACE_MIXER, kBoolean, 1, 1, {0, 0}},
    {"Line Playback Volume", SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 31, {20, 20}},
    {"Line Playback Switch", SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"CD Playback Volume", SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 31, {5, 5}},
    {"Capture Volume", SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 63, {63, 63}},
    {"Capture Switch", SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"Capture Source", SND_CTL_ELEM_IFACE_MIXER, kEnumerated, 2, 2, {0, 0}},
};
static const char* const sources[] = {"Mic", "Line", "CD"};
#define COUNT (sizeof elements / sizeof elements[0])

static int elem_count(snd_ctl_ext_t* ext) {
    (void)ext;
    return COUNT;
}

static int elem_list(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id) {
    (void)ext;
    if (offset >= COUNT) return -EINVAL;
    snd_ctl_elem_id_set_interface(id, elements[offset].iface);
    snd_ctl_elem_id_set_name(id, elements[offset].name);
    return 0;
}

static snd_ctl_ext_key_t find_elem(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
    (void)ext;
    const char* name = snd_ctl_elem_id_get_name(id);
    for (unsigned int i = 0; i < COUNT; ++i)
        if (strcmp(name, elements[i].name) == 0) return i;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

static int get_attribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned int* acc,
                         unsigned int* count) {
    (void)ext;
    if (key >= COUNT) return -EINVAL;
    const struct element* e = &elements[key];
    *type = e->type == kInteger ? SND_CTL_ELEM_TYPE_INTEGER
            : e->type == kBoolean ? SND_CTL_ELEM_TYPE_BOOLEAN
                                  : SND_CTL_ELEM_TYPE_ENUMERATED;
    *acc = SND_CTL_EXT_ACCESS_READWRITE;
    *count = e->count;
    return 0;
}

static int get_integer_info(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* imin, long* imax, long* istep) {
    (void)ext;
    *imin = 0;
    *imax = elements[key].max;
    *istep = 1;
    return 0;
}

static int get_enumerated_info(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    (void)ext;
    (void)key;
    *items = 3;
    return 0;
}

static int get_enumerated_name(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int item, char* name,
                               size_t max) {
    (void)ext;
    (void)key;
    if (item >= 3) return -EINVAL;
    snprintf(name, max, "%s", sources[item]);
    return 0;
}

static int read_integer(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
    (void)ext;
    for (unsigned int i = 0; i < elements[key].count; ++i) value[i] = elements[key].values[i];
    return 0;
}

static int write_integer(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
    (void)ext;
    int changed = 0;
    for (unsigned int i = 0; i < elements[key].count; ++i) {
        if (value[i] < 0 || value[i] > elements[key].max) return -EINVAL;
        changed |= elements[key].values[i] != value[i];
        elements[key].values[i] = value[i];
    }
    return changed;
}

static int read_enumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    (void)ext;
    for (unsigned int i = 0; i < elements[key].count; ++i) items[i] = (unsigned int)elements[key].values[i];
    return 0;
}

static int write_enumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    long values[2];
    for (unsigned int i = 0; i < elements[key].count; ++i) values[i] = items[i];
    return write_integer(ext, key, values);
}

static int read_event(snd_ctl_ext_t* ext, snd_ctl_elem_id_t* id, unsigned int* mask) {
    (void)ext;
    (void)id;
    (void)mask;
    return -EAGAIN;
}

static void close_card(snd_ctl_ext_t* ext) { free(ext); }

static const snd_ctl_ext_callback_t callbacks = {
    .close = close_card,
    .elem_count = elem_count,
    .elem_list = elem_list,
    .find_elem = find_elem,
    .get_attribute = get_attribute,
    .get_integer_info = get_integer_info,
    .get_enumerated_info = get_enumerated_info,
    .get_enumerated_name = get_enumerated_name,
    .read_integer = read_integer,
    .read_enumerated = read_enumerated,
    .write_integer = write_integer,
    .write_enumerated = write_enumerated,
    .read_event = read_event,
};

SND_CTL_PLUGIN_DEFINE_FUNC(vozarotest) {
    (void)root;
    (void)conf;
    snd_ctl_ext_t* ext = calloc(1, sizeof *ext);
    if (!ext) return -ENOMEM;
    ext->version = SND_CTL_EXT_VERSION;
    ext->card_idx = 0;
    strcpy(ext->id, "VozaroTest");
    strcpy(ext->driver, "vozarotest");
    strcpy(ext->name, "Vozaro Test Card");
    strcpy(ext->longname, "Vozaro Test Card");
    strcpy(ext->mixername, "Vozaro Test Mixer");
    ext->poll_fd = -1;
    ext->callback = &callbacks;
    int err = snd_ctl_ext_create(ext, name, mode);
    if (err < 0) {
        free(ext);
        return err;
    }
    *handlep = ext->handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(vozarotest);
