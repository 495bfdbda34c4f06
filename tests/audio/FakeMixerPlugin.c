/* A sound card's mixer without the card: an ALSA control plugin that the mixer
 * tests load through an ALSA configuration of their own. Its controls are
 * "<name> Playback Volume" and "<name> Playback Switch" for the elements its
 * configuration lists:
 *
 *   ctl.!default { type dravik_fake_mixer elements "Master:vs2,PCM:v1"
 *                  min 0 max 31 volume 10 switch 1 fail "none" }
 *
 * "v" gives an element a volume, "s" a switch, the digit its channels. fail
 * "open" refuses to open, "load" cannot list its controls, "events" reports the
 * card gone when asked for changes. A device opened with "elements" starts a
 * fresh card; one opened without (an observer) shares the values of the last
 * card, and every device hears of the others' writes as a card would tell. */
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMaxControls = 16, kMaxChannels = 2 };

struct FakeControl {
  char name[64];
  int is_switch;
  unsigned channels;
  long values[kMaxChannels];
  unsigned serial; /* bumped on every write */
};

/* The card, shared by every device open in the process. */
static struct {
  struct FakeControl controls[kMaxControls];
  unsigned count;
  long min, max;
} card;

struct FakeDevice {
  snd_ctl_ext_t ext;
  unsigned seen[kMaxControls]; /* serials this device has caught up with */
  int fail_load;
  int fail_events;
};

static int ElemCount(snd_ctl_ext_t* ext) {
  (void)ext;
  return (int)card.count;
}

/* ALSA takes the count as unsigned: a load fails in the listing. */
static int ElemList(snd_ctl_ext_t* ext, unsigned offset, snd_ctl_elem_id_t* id) {
  struct FakeDevice* device = ext->private_data;
  if (device->fail_load || offset >= card.count) return -EIO;
  snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
  snd_ctl_elem_id_set_name(id, card.controls[offset].name);
  return 0;
}

static snd_ctl_ext_key_t FindElem(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
  (void)ext;
  const char* name = snd_ctl_elem_id_get_name(id);
  for (unsigned i = 0; i < card.count; ++i) {
    if (strcmp(card.controls[i].name, name) == 0) return i;
  }
  return SND_CTL_EXT_KEY_NOT_FOUND;
}

static int GetAttribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned* access,
                        unsigned* count) {
  (void)ext;
  if (key >= card.count) return -EINVAL;
  *type = card.controls[key].is_switch ? SND_CTL_ELEM_TYPE_BOOLEAN : SND_CTL_ELEM_TYPE_INTEGER;
  *access = SND_CTL_EXT_ACCESS_READWRITE;
  *count = card.controls[key].channels;
  return 0;
}

static int GetIntegerInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* min, long* max, long* step) {
  (void)ext;
  if (key >= card.count) return -EINVAL;
  *min = card.controls[key].is_switch ? 0 : card.min;
  *max = card.controls[key].is_switch ? 1 : card.max;
  *step = 1;
  return 0;
}

static int ReadInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
  (void)ext;
  if (key >= card.count) return -EINVAL;
  memcpy(value, card.controls[key].values, card.controls[key].channels * sizeof(long));
  return 0;
}

static int WriteInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
  struct FakeDevice* device = ext->private_data;
  if (key >= card.count) return -EINVAL;
  struct FakeControl* control = &card.controls[key];
  if (memcmp(control->values, value, control->channels * sizeof(long)) == 0) return 0;
  memcpy(control->values, value, control->channels * sizeof(long));
  device->seen[key] = ++control->serial; /* the writer's own cache is current */
  return 1;
}

static int ReadEvent(snd_ctl_ext_t* ext, snd_ctl_elem_id_t* id, unsigned* mask) {
  struct FakeDevice* device = ext->private_data;
  if (device->fail_events) return -ENODEV;
  for (unsigned i = 0; i < card.count; ++i) {
    if (device->seen[i] != card.controls[i].serial) {
      device->seen[i] = card.controls[i].serial;
      snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
      snd_ctl_elem_id_set_name(id, card.controls[i].name);
      *mask = SND_CTL_EVENT_MASK_VALUE;
      return 1;
    }
  }
  return -EAGAIN;
}

static void Close(snd_ctl_ext_t* ext) { free(ext->private_data); }

static const snd_ctl_ext_callback_t kCallbacks = {
    .close = Close,
    .elem_count = ElemCount,
    .elem_list = ElemList,
    .find_elem = FindElem,
    .get_attribute = GetAttribute,
    .get_integer_info = GetIntegerInfo,
    .read_integer = ReadInteger,
    .write_integer = WriteInteger,
    .read_event = ReadEvent,
};

static void AddControl(const char* element, const char* kind, int is_switch, unsigned channels, long value) {
  if (card.count == kMaxControls) return;
  struct FakeControl* control = &card.controls[card.count++];
  memset(control, 0, sizeof *control);
  snprintf(control->name, sizeof control->name, "%s Playback %s", element, kind);
  control->is_switch = is_switch;
  control->channels = channels;
  control->values[0] = control->values[1] = value;
}

/* "Master:vs2,PCM:v1" */
static void ParseElements(const char* list, long volume, long on) {
  card.count = 0;
  char copy[256];
  snprintf(copy, sizeof copy, "%s", list);
  char* save = NULL;
  for (char* item = strtok_r(copy, ",", &save); item != NULL; item = strtok_r(NULL, ",", &save)) {
    char* caps = strchr(item, ':');
    if (caps == NULL) continue;
    *caps++ = '\0';
    unsigned channels = strchr(caps, '1') != NULL ? 1 : 2;
    if (strchr(caps, 'v') != NULL) AddControl(item, "Volume", 0, channels, volume);
    if (strchr(caps, 's') != NULL) AddControl(item, "Switch", 1, channels, on);
  }
}

SND_CTL_PLUGIN_DEFINE_FUNC(dravik_fake_mixer) {
  (void)root;
  const char* elements = NULL;
  const char* fail = "none";
  long min = 0, max = 31, volume = 0, on = 1;
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* node = snd_config_iterator_entry(i);
    const char* key = NULL;
    if (snd_config_get_id(node, &key) < 0) continue;
    if (strcmp(key, "elements") == 0) snd_config_get_string(node, &elements);
    if (strcmp(key, "fail") == 0) snd_config_get_string(node, &fail);
    if (strcmp(key, "min") == 0) snd_config_get_integer(node, &min);
    if (strcmp(key, "max") == 0) snd_config_get_integer(node, &max);
    if (strcmp(key, "volume") == 0) snd_config_get_integer(node, &volume);
    if (strcmp(key, "switch") == 0) snd_config_get_integer(node, &on);
  }
  if (strcmp(fail, "open") == 0) return -EIO;
  if (elements != NULL) {
    card.min = min;
    card.max = max;
    ParseElements(elements, volume, on);
  }

  struct FakeDevice* device = calloc(1, sizeof *device);
  if (device == NULL) return -ENOMEM;
  device->fail_load = strcmp(fail, "load") == 0;
  device->fail_events = strcmp(fail, "events") == 0;
  for (unsigned c = 0; c < card.count; ++c) device->seen[c] = card.controls[c].serial;
  snd_ctl_ext_t* ext = &device->ext;
  ext->version = SND_CTL_EXT_VERSION;
  ext->card_idx = 0;
  snprintf(ext->id, sizeof ext->id, "DravikFake");
  snprintf(ext->driver, sizeof ext->driver, "dravik");
  snprintf(ext->name, sizeof ext->name, "Dravik fake mixer");
  snprintf(ext->longname, sizeof ext->longname, "Dravik fake mixer for tests");
  snprintf(ext->mixername, sizeof ext->mixername, "Dravik fake mixer");
  ext->poll_fd = -1;
  ext->callback = &kCallbacks;
  ext->private_data = device;
  int err = snd_ctl_ext_create(ext, name, mode);
  if (err < 0) {
    free(device);
    return err;
  }
  *handlep = ext->handle;
  return 0;
}
SND_CTL_PLUGIN_SYMBOL(dravik_fake_mixer);
