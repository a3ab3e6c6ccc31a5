// The karaoke screen at 1920 × 1080, each measure beside one full-screen copy
// of the stage picture made in the same run:
//
//   FullScreenCopy             copying the whole stage picture once (the unit)
//   CarregarMusica/largest     the largest corpus karaoke file: read twice,
//                              lyric search (this one has no tagged lyrics)
//   CarregarMusica/lyrics      the largest corpus karaoke file with lyrics:
//                              read twice, extract, fit the font
//   CarregarFundo              a 12-megapixel JPEG: decode, stretch, darken, logo
//   JpegDecodeOnly             the same JPEG decoded whole by libjpeg-turbo alone
//   DisplayStep/stage          one AtualizarLetra that highlights a syllable
//   DisplayStep/singers_WxH    the same, with the singers' screen of that size
//                              brought up to date after it (scaled, or copied
//                              at the stage's own size)
//   DisplayStep/between        one of the 16 ms display steps between two
//                              syllables, which changes nothing on the screen
//                              (most of them while a song plays)
//   MelodyBand/step            the melody band's part of a display step 16 ms
//                              after the last: the mark moves, a pitch heard
//                              adds to the trail, the trail's oldest piece goes
//   MelodyBand/whole           the band drawn whole (a new line or key)
//
// Targets: a song under 20 copies, a display step under one copy, a step
// between syllables under 2 % of a copy, the picture
// under twice the decode alone, the singers' screen adding under one copy to
// a step, the band's step under 2 % of a copy.
//
// Run: build/…/bench/bench_stage  (reads ../shared/corpus at run time)
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/JpegPicture.h"
#include "stage/canvas/KaraokeStage.h"
#include "stage/singers/SingersView.h"

namespace fs = std::filesystem;

namespace {

const QSize kScreen(1920, 1080);

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "bench_stage";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    return app;
}

void FullScreenCopy(benchmark::State& state) {
    QImage from(kScreen, QImage::Format_RGB32);
    from.fill(qRgb(20, 40, 60));
    QImage to(kScreen, QImage::Format_RGB32);
    for (auto _ : state) {
        std::memcpy(to.bits(), from.constBits(), static_cast<std::size_t>(from.sizeInBytes()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(FullScreenCopy);

// The karaoke files of the corpus, largest first.
std::vector<fs::path> karaokeFiles() {
    std::vector<fs::path> files;
    const fs::path folder = fs::path(VOZARO_CORPUS_DIR) / "files" / "kar";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return fs::file_size(a) > fs::file_size(b); });
    return files;
}

void CarregarMusica(benchmark::State& state, bool withLyrics) {
    application();
    KaraokeStage stage;
    stage.resizeCanvas(kScreen);
    QString chosen;
    for (const fs::path& file : karaokeFiles()) {
        const QString path = QString::fromStdString(file.string());
        bool found = false;
        try {
            found = stage.CarregarMusica(path);
        } catch (const std::exception&) {
            continue;
        }
        if (found || !withLyrics) {
            chosen = path;
            break;
        }
    }
    if (chosen.isEmpty()) {
        state.SkipWithError("no karaoke file in the corpus");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(stage.CarregarMusica(chosen));
    state.SetLabel(QFileInfo(chosen).fileName().toStdString() + ", " +
                   std::to_string(stage.Silabas.size()) + " syllables, font " +
                   std::to_string(stage.lyricFontSize()));
}
BENCHMARK_CAPTURE(CarregarMusica, largest, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CarregarMusica, lyrics, true)->Unit(benchmark::kMillisecond);

// A 4000 × 3000 photograph-like JPEG: smooth shapes with some noise.
const QString& twelveMegapixelJpeg() {
    static QTemporaryDir folder;
    static const QString path = [] {
        QImage picture(4000, 3000, QImage::Format_RGB32);
        std::mt19937 random(7);
        for (int y = 0; y < picture.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x) {
                const int noise = static_cast<int>(random() % 24);
                line[x] = qRgb((x / 16 + noise) % 256, (y / 12 + noise) % 256, ((x + y) / 28) % 256);
            }
        }
        const QString file = QDir(folder.path()).filePath("photo.jpg");
        picture.save(file, "JPEG", 90);
        return file;
    }();
    return path;
}

void CarregarFundo(benchmark::State& state) {
    application();
    KaraokeStage stage;
    stage.resizeCanvas(kScreen);
    stage.darkLevel = 51;
    const QString path = twelveMegapixelJpeg();
    for (auto _ : state)
        if (!stage.CarregarFundo(path))
            state.SkipWithError("picture not loaded");
}
BENCHMARK(CarregarFundo)->Unit(benchmark::kMillisecond);

void JpegDecodeOnly(benchmark::State& state) {
    application();
    QFile file(twelveMegapixelJpeg());
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    for (auto _ : state) {
        vozaro::platform::DecodedPicture picture;
        std::string error;
        if (!vozaro::platform::decodeJpeg(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                          static_cast<std::size_t>(bytes.size()), {}, picture,
                                          error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(picture.pixels.data());
    }
}
BENCHMARK(JpegDecodeOnly)->Unit(benchmark::kMillisecond);

// singers: the size of the singers' screen following the stage; empty: none.
// between: the step comes between two syllables and lights none.
void DisplayStep(benchmark::State& state, QSize singers, bool between) {
    application();
    KaraokeStage stage;
    stage.resizeCanvas(kScreen);
    vozaro::stage::SingersView view;
    if (!singers.isEmpty()) {
        stage.attachCanvas(&stage.canvas(), [&](const QRect& rect) { view.changed(rect); });
        view.setScreenSize(singers, stage.canvas());
    }
    QString chosen;
    for (const fs::path& file : karaokeFiles()) {
        try {
            if (stage.CarregarMusica(QString::fromStdString(file.string())) &&
                stage.Silabas.size() > 10)
                break;
        } catch (const std::exception&) {
        }
    }
    if (stage.Silabas.size() <= 10) {
        state.SkipWithError("no karaoke file in the corpus");
        return;
    }
    // Into a line, just before a syllable of the same line.
    std::int64_t now = stage.TempoContagem;
    const auto insideALine = [&] {
        const int next = stage.SilabaAtual + 1;
        return stage.SilabaAtual >= 0 && next < stage.Silabas.size() &&
               !stage.Silabas[next].startsWith('/') && !stage.Silabas[next].startsWith('\\');
    };
    while (!insideALine())
        stage.AtualizarLetra(now += 50);
    const int syllable = stage.SilabaAtual;
    const int current = stage.LinhaAtual;
    const int loaded = stage.UltimaCarregada;
    const auto lines = stage.Linha;
    const auto sung = stage.Cantado;
    const std::int64_t due = between ? stage.Tempos[static_cast<std::size_t>(syllable) + 1] - 1
                                     : stage.Tempos[static_cast<std::size_t>(syllable) + 1] + 1;
    for (auto _ : state) {
        stage.SilabaAtual = syllable;
        stage.LinhaAtual = current;
        stage.UltimaCarregada = loaded;
        stage.Linha = lines;
        stage.Cantado = sung;
        stage.AtualizarLetra(due);
        if (!singers.isEmpty())
            view.update(stage.canvas());
    }
    if (stage.SilabaAtual != (between ? syllable : syllable + 1))
        state.SkipWithError(between ? "a syllable was highlighted" : "no syllable highlighted");
}
BENCHMARK_CAPTURE(DisplayStep, stage, QSize(), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayStep, singers_1280x1024, QSize(1280, 1024), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayStep, singers_1920x1080, QSize(1920, 1080), false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(DisplayStep, between, QSize(), true)->Unit(benchmark::kMicrosecond);

// whole: the band drawn anew at every step, as at a new line.
void MelodyBand(benchmark::State& state, bool whole) {
    application();
    KaraokeStage stage;
    stage.resizeCanvas(kScreen);
    vozaro::stage::MelodyBand& band = stage.melodyBand;
    // A song with a melody, walked until the band shows a line of 2 s or more.
    std::int64_t now = 0;
    const auto longLineShown = [&] {
        if (band.shownLine() < 0)
            return false;
        const vozaro::stage::MelodyLine& shown = band.lines()[static_cast<std::size_t>(band.shownLine())];
        return shown.endMs - std::max<std::int64_t>(now, shown.startMs) >= 2000;
    };
    for (const fs::path& file : karaokeFiles()) {
        try {
            if (!stage.CarregarMusica(QString::fromStdString(file.string())) || band.lines().empty())
                continue;
        } catch (const std::exception&) {
            continue;
        }
        for (now = 0; now < stage.songEnd && !longLineShown(); now += 50)
            stage.AtualizarLetra(now);
        if (longLineShown())
            break;
    }
    if (!longLineShown()) {
        state.SkipWithError("no karaoke file with a melody in the corpus");
        return;
    }
    const vozaro::stage::MelodyLine& line = band.lines()[static_cast<std::size_t>(band.shownLine())];
    const std::int64_t start = std::max<std::int64_t>(now, line.startMs);
    std::int64_t t = start;
    for (auto _ : state) {
        t += 16;
        if (t >= line.endMs) {
            state.PauseTiming();
            t = start;
            band.refresh(t);  // back in time: drawn whole, not measured
            state.ResumeTiming();
        }
        const vozaro::stage::SongNote* sung = line.noteAt(t);
        band.heard(sung ? sung->note + 0.3 : 60.0, true, t);
        if (whole)
            band.backgroundReplaced();
        band.refresh(t);
    }
    state.SetLabel(std::to_string(band.shownRect().width()) + "x" + std::to_string(band.shownRect().height()) +
                   " band, " + std::to_string(line.notes.size()) + " notes");
}
BENCHMARK_CAPTURE(MelodyBand, step, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(MelodyBand, whole, true)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
