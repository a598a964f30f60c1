#include "demo_music.h"

#include "kvr_writer.h"
#include "ogg_writer.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int SECONDS_PER_MINUTE = 60;
constexpr int MIDI_A4 = 69;
constexpr double FREQ_A4 = 440.0;
constexpr int SEMITONES_PER_OCTAVE = 12;
constexpr int CHORD_TONES = 3;
constexpr int MAX_HARMONICS = 6;
constexpr double CENTS_PER_OCTAVE = 1200.0;
constexpr double MASTER_GAIN = 1.3;
constexpr double PCM_FULL_SCALE = 32767.0;
// Each of the two detuned copies of an HD voice; together a little louder than one.
constexpr double HD_DOUBLE_GAIN = 0.6;

enum Voice { VOICE_LEAD, VOICE_FLUTE, VOICE_PAD, VOICE_BASS, VOICE_PLUCK };

// How one voice sounds. Times in seconds; harmonics are the amplitudes of
// partials 1, 2, 3, ... (HD adds the hd_harmonics on top).
struct VoiceShape {
    double harmonics[MAX_HARMONICS];
    double hd_harmonics[MAX_HARMONICS];
    double attack;
    double release;
    double decay_tau;  // exponential fade while held; 0 holds steady
    double vibrato_depth;  // fraction of the frequency
    double vibrato_rate;
    double vibrato_delay;
    double gain;
    double pan;  // -1 left .. 1 right
    double hd_detune_cents;  // HD doubles the voice this far sharp, panned opposite; 0 does not
};

const VoiceShape VOICE_SHAPES[] = {
    // VOICE_LEAD: a soft square (odd partials only).
    {{1, 0, 1.0 / 3, 0, 1.0 / 5, 0}, {0, 0.08, 0, 0.05, 0, 1.0 / 7}, 0.012, 0.08, 1.6, 0.004, 5.0,
     0.25, 0.16, 0.15, 6},
    // VOICE_FLUTE: nearly a sine, breathing vibrato.
    {{1, 0.18, 0.06, 0, 0, 0}, {0, 0.05, 0.04, 0.03, 0, 0}, 0.04, 0.09, 0, 0.005, 5.5, 0.2, 0.22,
     0.1, 5},
    // VOICE_PAD: warm and slow, sitting under everything.
    {{1, 0.3, 0.1, 0.05, 0, 0}, {0, 0.1, 0.06, 0.04, 0.02, 0}, 0.35, 0.6, 0, 0, 0, 0, 0.06, -0.3,
     8},
    // VOICE_BASS: round plucked low notes.
    {{1, 0.35, 0.12, 0, 0, 0}, {0, 0.1, 0.08, 0.04, 0, 0}, 0.006, 0.08, 1.2, 0, 0, 0, 0.26, 0, 0},
    // VOICE_PLUCK: bright short notes for arpeggios and waltz chords.
    {{1, 0.12, 0.25, 0.05, 0.08, 0}, {0, 0.12, 0, 0.06, 0, 0.04}, 0.003, 0.05, 0.22, 0, 0, 0, 0.08,
     0.4, 4},
};

struct Chord {
    int tones[CHORD_TONES];  // the pad's voicing, low to high
    int bass;
};

struct MelodyNote {
    double beat;  // from the start of the part
    double beats;
    int midi;
};

// How the accompaniment of a song moves under each chord.
enum Accompaniment { ACCOMP_ARPEGGIO, ACCOMP_WALTZ };

struct SongPart {
    const Chord* chords;  // one per bar
    size_t bars;
    const MelodyNote* melody;
    size_t melody_count;
    const int* arpeggio;  // chord-tone steps per eighth (3 and up: an octave higher)
};

struct Song {
    const char* name;
    int bpm;
    int beats_per_bar;
    Voice melody_voice;
    Accompaniment accompaniment;
    SongPart parts[2];
};

// Title: A minor, four bars of Am F C G under a lilting tune, after a
// one-bar G that lifts into the loop's first chord.
constexpr Chord CHORD_AM = {{57, 60, 64}, 45};
constexpr Chord CHORD_F = {{53, 57, 60}, 41};
constexpr Chord CHORD_C = {{55, 60, 64}, 48};
constexpr Chord CHORD_G = {{55, 59, 62}, 43};
const Chord TITLE_INTRO_CHORDS[] = {CHORD_G};
const Chord TITLE_LOOP_CHORDS[] = {CHORD_AM, CHORD_F, CHORD_C, CHORD_G};
const MelodyNote TITLE_LOOP_MELODY[] = {
    {0, 1, 76},   {1, 0.5, 72},   {1.5, 0.5, 74}, {2, 1, 76},   {3, 1, 79},
    {4, 1.5, 77}, {5.5, 0.5, 76}, {6, 1, 74},     {7, 1, 72},   {8, 1, 72},
    {9, 0.5, 74}, {9.5, 0.5, 76}, {10, 1.5, 79},  {11.5, 0.5, 76},
    {12, 2, 74},  {14, 1, 71},    {15, 1, 74},
};
const int TITLE_INTRO_ARPEGGIO[] = {0, 1, 2, 3, 4, 5, 6, 7};
const int TITLE_LOOP_ARPEGGIO[] = {0, 1, 2, 3, 2, 1, 2, 3};

// Forest: G major waltz, six bars G Em C D Em D, after a two-bar G D intro
// whose last steps climb to the tune's first note.
constexpr Chord CHORD_EM = {{52, 55, 59}, 40};
constexpr Chord CHORD_C_LOW = {{52, 55, 60}, 48};
constexpr Chord CHORD_D = {{54, 57, 62}, 50};
const Chord FOREST_INTRO_CHORDS[] = {CHORD_G, CHORD_D};
const Chord FOREST_LOOP_CHORDS[] = {CHORD_G, CHORD_EM, CHORD_C_LOW, CHORD_D, CHORD_EM, CHORD_D};
const MelodyNote FOREST_INTRO_MELODY[] = {{4, 0.5, 62}, {4.5, 0.5, 66}, {5, 1, 69}};
const MelodyNote FOREST_LOOP_MELODY[] = {
    {0, 2, 74},  {2, 1, 71},  {3, 1.5, 76}, {4.5, 0.5, 74}, {5, 1, 71},  {6, 1, 72},
    {7, 1, 76},  {8, 1, 79},  {9, 2, 78},   {11, 1, 76},    {12, 1, 74}, {13, 1, 71},
    {14, 1, 67}, {15, 2, 69}, {17, 1, 66},
};

const Song SONGS[DEMO_MUSIC_TRACK_COUNT] = {
    {"title", 90, 4, VOICE_LEAD, ACCOMP_ARPEGGIO,
     {{TITLE_INTRO_CHORDS, std::size(TITLE_INTRO_CHORDS), nullptr, 0, TITLE_INTRO_ARPEGGIO},
      {TITLE_LOOP_CHORDS, std::size(TITLE_LOOP_CHORDS), TITLE_LOOP_MELODY,
       std::size(TITLE_LOOP_MELODY), TITLE_LOOP_ARPEGGIO}}},
    {"forest", 120, 3, VOICE_FLUTE, ACCOMP_WALTZ,
     {{FOREST_INTRO_CHORDS, std::size(FOREST_INTRO_CHORDS), FOREST_INTRO_MELODY,
       std::size(FOREST_INTRO_MELODY), nullptr},
      {FOREST_LOOP_CHORDS, std::size(FOREST_LOOP_CHORDS), FOREST_LOOP_MELODY,
       std::size(FOREST_LOOP_MELODY), nullptr}}},
};

// The pad rings this far into the next bar, so chords melt into each other.
constexpr double PAD_OVERLAP_BEATS = 0.75;
constexpr double BASS_HALF_BAR_FILL = 0.95;
constexpr double ARPEGGIO_STEP_BEATS = 0.5;
constexpr double ARPEGGIO_NOTE_BEATS = 0.45;
constexpr int ARPEGGIO_STEPS_PER_BAR = 8;
constexpr double WALTZ_BASS_BEATS = 2.9;
constexpr double WALTZ_CHORD_BEATS = 0.6;

struct Mix {
    std::vector<double> left, right;
    size_t frames;
    bool wrap;  // a loop: sound past the end continues at the start
    size_t frames_per_beat;
};

double midi_frequency(int midi)
{
    return FREQ_A4 * std::pow(2.0, static_cast<double>(midi - MIDI_A4) / SEMITONES_PER_OCTAVE);
}

double envelope(const VoiceShape& shape, double t, double length)
{
    double level = t < shape.attack ? t / shape.attack : 1.0;
    if (shape.decay_tau > 0)
        level *= std::exp(-t / shape.decay_tau);
    double left = length - t;
    if (left < shape.release)
        level *= std::max(left, 0.0) / shape.release;
    return level;
}

// Adds one oscillator of the voice at the given frequency and pan for the
// note's whole length; its release ends inside that length.
void mix_oscillator(Mix* mix, const VoiceShape& shape, bool hd, size_t start, size_t length,
                    double freq, double pan, double gain)
{
    double angle = (pan + 1.0) * PI / 4;
    double gain_left = std::cos(angle) * gain, gain_right = std::sin(angle) * gain;
    double partials[MAX_HARMONICS];
    for (int k = 0; k < MAX_HARMONICS; k++)
        partials[k] = shape.harmonics[k] + (hd ? shape.hd_harmonics[k] : 0.0);
    double phase = 0;
    double seconds = static_cast<double>(length) / DEMO_MUSIC_RATE;
    for (size_t i = 0; i < length; i++) {
        size_t at = start + i;
        if (at >= mix->frames) {
            if (!mix->wrap)
                return;
            at %= mix->frames;
        }
        double t = static_cast<double>(i) / DEMO_MUSIC_RATE;
        double sample = 0;
        for (int k = 0; k < MAX_HARMONICS; k++) {
            if (partials[k] != 0)
                sample += partials[k] * std::sin(2 * PI * (k + 1) * phase);
        }
        sample *= envelope(shape, t, seconds);
        mix->left[at] += sample * gain_left;
        mix->right[at] += sample * gain_right;
        double vibrato = t > shape.vibrato_delay
                             ? shape.vibrato_depth * std::sin(2 * PI * shape.vibrato_rate * t)
                             : 0.0;
        phase += freq * (1.0 + vibrato) / DEMO_MUSIC_RATE;
        phase -= std::floor(phase);
    }
}

void mix_note(Mix* mix, Voice voice, bool hd, double beat, double beats, int midi)
{
    const VoiceShape& shape = VOICE_SHAPES[voice];
    size_t start = static_cast<size_t>(std::lround(beat * mix->frames_per_beat));
    size_t length = static_cast<size_t>(std::lround(beats * mix->frames_per_beat));
    double freq = midi_frequency(midi);
    if (hd && shape.hd_detune_cents > 0) {
        double sharp = freq * std::pow(2.0, shape.hd_detune_cents / CENTS_PER_OCTAVE);
        mix_oscillator(mix, shape, hd, start, length, freq, shape.pan, shape.gain * HD_DOUBLE_GAIN);
        mix_oscillator(mix, shape, hd, start, length, sharp, -shape.pan, shape.gain * HD_DOUBLE_GAIN);
    } else {
        mix_oscillator(mix, shape, hd, start, length, freq, shape.pan, shape.gain);
    }
}

int arpeggio_tone(const Chord& chord, int step)
{
    return chord.tones[step % CHORD_TONES] + SEMITONES_PER_OCTAVE * (step / CHORD_TONES + 1);
}

void mix_bar(Mix* mix, const Song& song, const SongPart& part, size_t bar, bool hd)
{
    const Chord& chord = part.chords[bar];
    double bar_beat = static_cast<double>(bar) * song.beats_per_bar;
    for (int tone : chord.tones)
        mix_note(mix, VOICE_PAD, hd, bar_beat, song.beats_per_bar + PAD_OVERLAP_BEATS, tone);

    if (song.accompaniment == ACCOMP_ARPEGGIO) {
        double half = song.beats_per_bar / 2.0;
        mix_note(mix, VOICE_BASS, hd, bar_beat, half * BASS_HALF_BAR_FILL, chord.bass);
        mix_note(mix, VOICE_BASS, hd, bar_beat + half, half * BASS_HALF_BAR_FILL, chord.bass);
        for (int step = 0; step < ARPEGGIO_STEPS_PER_BAR; step++)
            mix_note(mix, VOICE_PLUCK, hd, bar_beat + step * ARPEGGIO_STEP_BEATS,
                     ARPEGGIO_NOTE_BEATS, arpeggio_tone(chord, part.arpeggio[step]));
    } else {
        mix_note(mix, VOICE_BASS, hd, bar_beat, WALTZ_BASS_BEATS, chord.bass);
        for (int beat = 1; beat < song.beats_per_bar; beat++) {
            for (int tone : chord.tones)
                mix_note(mix, VOICE_PLUCK, hd, bar_beat + beat, WALTZ_CHORD_BEATS,
                         tone + SEMITONES_PER_OCTAVE);
        }
    }
}

size_t frames_per_beat(const Song& song)
{
    return static_cast<size_t>(DEMO_MUSIC_RATE * SECONDS_PER_MINUTE / song.bpm);
}

bool write_part(const std::string& folder, int track, DemoMusicPart part, bool hd,
                std::string* error)
{
    std::vector<int16_t> pcm = demo_music_render(track, part, hd);
    std::vector<uint8_t> ogg =
        ogg_encode_vorbis(pcm.data(), pcm.size() / DEMO_MUSIC_CHANNELS, DEMO_MUSIC_CHANNELS,
                          DEMO_MUSIC_RATE, hd ? DEMO_MUSIC_HD_QUALITY : DEMO_MUSIC_SD_QUALITY);
    std::string path = folder + (hd ? "/bgm/hd/" : "/bgm/") + demo_music_track_name(track) +
                       (part == DEMO_PART_INTRO ? "_intro.ogg" : "_loop.ogg");
    if (ogg.empty()) {
        *error = "cannot encode " + path;
        return false;
    }
    if (!kvr_write_file(path, ogg)) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

const char* demo_music_track_name(int track)
{
    return track >= 0 && track < DEMO_MUSIC_TRACK_COUNT ? SONGS[track].name : nullptr;
}

size_t demo_music_part_frames(int track, DemoMusicPart part)
{
    if (track < 0 || track >= DEMO_MUSIC_TRACK_COUNT)
        return 0;
    const Song& song = SONGS[track];
    return frames_per_beat(song) * static_cast<size_t>(song.beats_per_bar) * song.parts[part].bars;
}

std::vector<int16_t> demo_music_render(int track, DemoMusicPart part, bool hd)
{
    std::vector<int16_t> pcm;
    if (track < 0 || track >= DEMO_MUSIC_TRACK_COUNT)
        return pcm;
    const Song& song = SONGS[track];
    const SongPart& notes = song.parts[part];
    Mix mix;
    mix.frames = demo_music_part_frames(track, part);
    mix.wrap = part == DEMO_PART_LOOP;
    mix.frames_per_beat = frames_per_beat(song);
    mix.left.assign(mix.frames, 0.0);
    mix.right.assign(mix.frames, 0.0);

    for (size_t bar = 0; bar < notes.bars; bar++)
        mix_bar(&mix, song, notes, bar, hd);
    for (size_t i = 0; i < notes.melody_count; i++)
        mix_note(&mix, song.melody_voice, hd, notes.melody[i].beat, notes.melody[i].beats,
                 notes.melody[i].midi);

    pcm.resize(mix.frames * DEMO_MUSIC_CHANNELS);
    for (size_t i = 0; i < mix.frames; i++) {
        // A gentle saturation instead of a hard clip, should the voices pile up.
        pcm[i * 2] = static_cast<int16_t>(
            std::lround(std::tanh(mix.left[i] * MASTER_GAIN) * PCM_FULL_SCALE));
        pcm[i * 2 + 1] = static_cast<int16_t>(
            std::lround(std::tanh(mix.right[i] * MASTER_GAIN) * PCM_FULL_SCALE));
    }
    return pcm;
}

bool demo_music_write_all(const std::string& folder, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(folder + "/bgm/hd", ec);
    for (int track = 0; track < DEMO_MUSIC_TRACK_COUNT; track++) {
        for (DemoMusicPart part : {DEMO_PART_INTRO, DEMO_PART_LOOP}) {
            for (bool hd : {false, true}) {
                if (!write_part(folder, track, part, hd, error))
                    return false;
            }
        }
    }
    return true;
}
