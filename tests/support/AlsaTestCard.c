/* An ALSA control plugin presenting sound card mixers without any hardware,
 * for testing the ALSA mixer back end.  Two cards:
 *   - the classic card: Master, PCM, Mic, Line and CD playback controls, a
 *     Capture volume and switch, and an enumerated "Capture Source" choosing
 *     Mic, Line or CD;
 *   - with "laptop true" in its configuration, a card with two converters:
 *     Master and PCM playback, a Capture volume and switch for each converter
 *     (the second one as index 1) and a stereo enumerated "Input Source"
 *     choosing Mic, Line or CD, which starts on Line (alsa-lib shows the
 *     classic card's "Capture Source" as exclusive capture switches, this one
 *     as an enumerated capture source).
 * With "dying true", the classic card behaves as a card behind a sound
 * server that can go away: its changes are signalled through a pipe, and
 * vozarotest_set_dead(1) makes that pipe readable for good while reading
 * its events fails, as the server's plugin does once the server is gone
 * (vozarotest_dead_reads() counts those reads); opening it then fails until
 * vozarotest_set_dead(0).
 * The values live in the loaded module, so every open in a process sees what
 * another one wrote.  Not part of the program: the tests build it as a module
 * and name it in an ALSA configuration of their own. */
#define _GNU_SOURCE
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kInteger, kBoolean, kEnumerated };

struct element {
    const char* name;
    unsigned int index;
    snd_ctl_elem_iface_t iface;
    int type;
    unsigned int count;
    long max;
    long values[2];
};

static struct element classic[] = {
    {"Master Playback Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 31, {31, 31}},
    {"Master Playback Switch", 0, SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"PCM Playback Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 255, {200, 200}},
    {"Mic Playback Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 1, 31, {10, 10}},
    {"Mic Playback Switch", 0, SND_CTL_ELEM_IFACE_MIXER, kBoolean, 1, 1, {0, 0}},
    {"Line Playback Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 31, {20, 20}},
    {"Line Playback Switch", 0, SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"CD Playback Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 31, {5, 5}},
    {"Capture Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 63, {63, 63}},
    {"Capture Switch", 0, SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"Capture Source", 0, SND_CTL_ELEM_IFACE_MIXER, kEnumerated, 2, 2, {0, 0}},
};
static struct element laptop[] = {
    {"Master Playback Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 31, {31, 31}},
    {"Master Playback Switch", 0, SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"PCM Playback Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 255, {200, 200}},
    {"Capture Volume", 0, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 63, {63, 63}},
    {"Capture Switch", 0, SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"Capture Volume", 1, SND_CTL_ELEM_IFACE_MIXER, kInteger, 2, 63, {40, 40}},
    {"Capture Switch", 1, SND_CTL_ELEM_IFACE_MIXER, kBoolean, 2, 1, {1, 1}},
    {"Input Source", 0, SND_CTL_ELEM_IFACE_MIXER, kEnumerated, 2, 2, {1, 1}},
};
static const char* const sources[] = {"Mic", "Line", "CD"};

struct card {
    struct element* elements;
    unsigned int count;
};
static struct card cards[] = {
    {classic, sizeof classic / sizeof classic[0]},
    {laptop, sizeof laptop / sizeof laptop[0]},
};

static struct card* card_of(snd_ctl_ext_t* ext) { return ext->private_data; }

static int elem_count(snd_ctl_ext_t* ext) { return (int)card_of(ext)->count; }

static int elem_list(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id) {
    const struct card* c = card_of(ext);
    if (offset >= c->count) return -EINVAL;
    snd_ctl_elem_id_set_interface(id, c->elements[offset].iface);
    snd_ctl_elem_id_set_name(id, c->elements[offset].name);
    snd_ctl_elem_id_set_index(id, c->elements[offset].index);
    return 0;
}

static snd_ctl_ext_key_t find_elem(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
    const struct card* c = card_of(ext);
    const char* name = snd_ctl_elem_id_get_name(id);
    const unsigned int index = snd_ctl_elem_id_get_index(id);
    for (unsigned int i = 0; i < c->count; ++i)
        if (strcmp(name, c->elements[i].name) == 0 && index == c->elements[i].index) return i;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

static int get_attribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned int* acc,
                         unsigned int* count) {
    if (key >= card_of(ext)->count) return -EINVAL;
    const struct element* e = &card_of(ext)->elements[key];
    *type = e->type == kInteger ? SND_CTL_ELEM_TYPE_INTEGER
            : e->type == kBoolean ? SND_CTL_ELEM_TYPE_BOOLEAN
                                  : SND_CTL_ELEM_TYPE_ENUMERATED;
    *acc = SND_CTL_EXT_ACCESS_READWRITE;
    *count = e->count;
    return 0;
}

static int get_integer_info(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* imin, long* imax, long* istep) {
    *imin = 0;
    *imax = card_of(ext)->elements[key].max;
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
    const struct element* e = &card_of(ext)->elements[key];
    for (unsigned int i = 0; i < e->count; ++i) value[i] = e->values[i];
    return 0;
}

static int write_integer(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
    struct element* e = &card_of(ext)->elements[key];
    int changed = 0;
    for (unsigned int i = 0; i < e->count; ++i) {
        if (value[i] < 0 || value[i] > e->max) return -EINVAL;
        changed |= e->values[i] != value[i];
        e->values[i] = value[i];
    }
    return changed;
}

static int read_enumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    const struct element* e = &card_of(ext)->elements[key];
    for (unsigned int i = 0; i < e->count; ++i) items[i] = (unsigned int)e->values[i];
    return 0;
}

static int write_enumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
    long values[2];
    for (unsigned int i = 0; i < card_of(ext)->elements[key].count; ++i) values[i] = items[i];
    return write_integer(ext, key, values);
}

/* The dying cards open now: their handle and the pipe signalling them. */
enum { kMostDying = 8 };
static struct {
    snd_ctl_ext_t* ext;
    int pipe[2];
} dying[kMostDying];
static int dead;
static int dead_reads;

void vozarotest_set_dead(int now_dead) {
    dead = now_dead;
    for (int i = 0; i < kMostDying; ++i)
        if (dying[i].ext && dead) (void)!write(dying[i].pipe[1], "x", 1);
}

int vozarotest_dead_reads(void) { return dead_reads; }

static int read_event(snd_ctl_ext_t* ext, snd_ctl_elem_id_t* id, unsigned int* mask) {
    (void)id;
    (void)mask;
    if (ext->poll_fd >= 0) {
        if (dead) {
            ++dead_reads;
            return -EIO;
        }
        char drained[16];
        while (read(ext->poll_fd, drained, sizeof drained) > 0) {
        }
    }
    return -EAGAIN;
}

static void subscribe_events(snd_ctl_ext_t* ext, int subscribe) {
    (void)ext;
    (void)subscribe;
}

static void close_card(snd_ctl_ext_t* ext) {
    for (int i = 0; i < kMostDying; ++i) {
        if (dying[i].ext != ext) continue;
        close(dying[i].pipe[0]);
        close(dying[i].pipe[1]);
        dying[i].ext = NULL;
    }
    free(ext);
}

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
    .subscribe_events = subscribe_events,
};

SND_CTL_PLUGIN_DEFINE_FUNC(vozarotest) {
    (void)root;
    int two_converters = 0;
    int may_die = 0;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id = NULL;
        if (snd_config_get_id(entry, &id) < 0) continue;
        if (strcmp(id, "laptop") == 0) {
            two_converters = snd_config_get_bool(entry);
            if (two_converters < 0) return two_converters;
        }
        if (strcmp(id, "dying") == 0) {
            may_die = snd_config_get_bool(entry);
            if (may_die < 0) return may_die;
        }
    }
    if (may_die && dead) return -ENODEV;
    int slot = -1;
    for (int k = 0; may_die && k < kMostDying && slot < 0; ++k)
        if (!dying[k].ext) slot = k;
    if (may_die && (slot < 0 || pipe2(dying[slot].pipe, O_NONBLOCK | O_CLOEXEC) < 0)) return -EMFILE;
    snd_ctl_ext_t* ext = calloc(1, sizeof *ext);
    if (!ext) return -ENOMEM;
    ext->version = SND_CTL_EXT_VERSION;
    ext->card_idx = 0;
    strcpy(ext->id, "VozaroTest");
    strcpy(ext->driver, "vozarotest");
    strcpy(ext->name, "Vozaro Test Card");
    strcpy(ext->longname, "Vozaro Test Card");
    strcpy(ext->mixername, "Vozaro Test Mixer");
    ext->poll_fd = may_die ? dying[slot].pipe[0] : -1;
    ext->callback = &callbacks;
    ext->private_data = &cards[two_converters ? 1 : 0];
    int err = snd_ctl_ext_create(ext, name, mode);
    if (err < 0) {
        if (may_die) {
            close(dying[slot].pipe[0]);
            close(dying[slot].pipe[1]);
        }
        free(ext);
        return err;
    }
    if (may_die) dying[slot].ext = ext;
    *handlep = ext->handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(vozarotest);
