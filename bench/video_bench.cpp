// Converts a generated 60-second 1080p H.264 movie into the default ladder
// of three FLV streams, once in H.264 with AAC and once in Sorenson Spark
// with MP3, then makes the same streams with the ffmpeg command line (one
// decode, same codecs, sizes, bitrates and rate control), and prints for
// each ladder the rates asked beside the rates measured from the streams'
// packets, both times, their ratio and the peak memory of each.
//
// Usage: video_bench [--seconds N] [--rounds N] [--keep DIR]

#include "BenchUtil.h"
#include "common/VideoFixtures.h"

#include "storage/Job.h"
#include "video/ConversionLadder.h"
#include "video/FLVMetadata.h"
#include "video/VideoConverter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

long peakKilobytesOfSelf()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss;
}

// The peak resident memory of a running process's own image (after exec:
// what the parent had does not count, unlike wait4's figure for a spawned child).
long peakKilobytesOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Runs a program and returns its wall time; `peakKb` gets its peak memory,
// read while it runs.
double runMeasured(const QString &program, const QStringList &args, long *peakKb)
{
    QList<QByteArray> owned{program.toLocal8Bit()};
    for (const QString &a : args)
        owned << a.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    *peakKb = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        *peakKb = std::max(*peakKb, peakKilobytesOf(pid));
        QThread::msleep(20);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? bench::seconds(t) : -1;
}

// One ladder's figures: the time and, per stream, the measured video rate.
struct Run
{
    double seconds = -1;
    long peakKb = 0;
    QList<double> videoKbps;
};

QList<double> measure(const QStringList &paths)
{
    QList<double> rates;
    for (const QString &p : paths)
        rates << testing::measuredRates(p).videoKbps;
    return rates;
}

Run runOurs(qm::ConversionRequest request, const QString &dir, const QString &tag, int rounds)
{
    Run best;
    for (int round = 0; round < rounds; ++round) {
        request.outputs.clear();
        for (int i = 0; i < request.settings.rungs.size(); ++i) {
            const QString out = QStringLiteral("%1/quillmere_%2_%3.flv").arg(dir, tag).arg(i);
            QFile::remove(out);
            request.outputs << out;
        }
        QFile::remove(request.thumbnail);
        qm::ConversionOutcome outcome;
        qm::Job job(QStringLiteral("Converting"), [&](qm::JobControl &control) {
            outcome = qm::convertMovie(request, control);
        });
        QEventLoop loop;
        QObject::connect(&job, &qm::Job::finished, &loop, &QEventLoop::quit);
        QElapsedTimer t;
        t.start();
        job.start();
        loop.exec();
        const double s = bench::seconds(t);
        if (!outcome.ok()) {
            std::printf("conversion failed: %s: %s\n", qPrintable(outcome.errorPath), qPrintable(outcome.error));
            return {};
        }
        std::printf("  Quillmere round %d: %.2f s\n", round + 1, s);
        std::fflush(stdout);
        if (best.seconds < 0 || s < best.seconds)
            best.seconds = s;
        best.videoKbps = measure(request.outputs);
    }
    return best;
}

// The same work on the command line: one decode, scaled once to the largest
// size and from there to the smaller ones, the same encoder settings, the
// sound at 44.1 kHz stereo.
Run runFFmpeg(const QString &ffmpeg, const QString &source, const qm::ConversionRequest &request,
              const qm::FrameRate &rate, const QString &dir, const QString &tag, int rounds, QString *commandLine)
{
    const auto &rungs = request.settings.rungs;
    const bool h264 = request.settings.codec == qm::VideoCodec::H264;
    const int keyInterval = rate.num > 0 ? int(std::lround(2 * rate.value())) : 50;
    QString graph = rate.num > 0 ? QStringLiteral("[0:v]fps=%1/%2,").arg(rate.num).arg(rate.den) : QStringLiteral("[0:v]");
    graph += QStringLiteral("scale=%1:%2,split=%3").arg(rungs[0].size.width()).arg(rungs[0].size.height()).arg(rungs.size());
    for (int i = 0; i < rungs.size(); ++i)
        graph += QStringLiteral("[s%1]").arg(i);
    graph += ";";
    for (int i = 1; i < rungs.size(); ++i)
        graph += QStringLiteral("[s%1]scale=%2:%3[s%1b];").arg(i).arg(rungs[i].size.width()).arg(rungs[i].size.height());
    graph += QStringLiteral("[0:a]aresample=%1,asplit=%2").arg(request.settings.audioRate).arg(rungs.size());
    for (int i = 0; i < rungs.size(); ++i)
        graph += QStringLiteral("[a%1]").arg(i);
    QStringList ff{"-hide_banner", "-loglevel", "error", "-y", "-i", source, "-filter_complex", graph};
    QStringList outputs;
    for (int i = 0; i < rungs.size(); ++i) {
        const int kbps = rungs[i].videoKbps;
        ff << "-map" << (i == 0 ? QStringLiteral("[s0]") : QStringLiteral("[s%1b]").arg(i)) << "-map"
           << QStringLiteral("[a%1]").arg(i);
        if (h264)
            ff << "-c:v" << "libx264" << "-preset" << "medium" << "-profile:v" << "main" << "-b:v"
               << QStringLiteral("%1k").arg(kbps) << "-maxrate" << QStringLiteral("%1k").arg(kbps) << "-bufsize"
               << QStringLiteral("%1k").arg(kbps * 6 / 10) << "-c:a" << "aac";
        else
            ff << "-c:v" << "flv1" << "-b:v" << QStringLiteral("%1k").arg(kbps) << "-bt"
               << QStringLiteral("%1k").arg(std::max(8, kbps / 10)) << "-maxrate" << QStringLiteral("%1k").arg(2 * kbps)
               << "-bufsize" << QStringLiteral("%1k").arg(2 * kbps) << "-c:a" << "libmp3lame";
        outputs << QStringLiteral("%1/ffmpeg_%2_%3.flv").arg(dir, tag).arg(i);
        ff << "-g" << QString::number(keyInterval) << "-b:a" << QStringLiteral("%1k").arg(request.settings.audioKbps)
           << "-ac" << "2" << outputs.last();
    }
    QStringList shown;
    for (const QString &arg : std::as_const(ff))
        shown << (arg.contains(QRegularExpression("[ ;\\[]")) ? QLatin1Char('\'') + arg + QLatin1Char('\'') : arg);
    *commandLine = QStringLiteral("ffmpeg ") + shown.join(QLatin1Char(' '));
    Run best;
    for (int round = 0; round < rounds; ++round) {
        long peak = 0;
        const double s = runMeasured(ffmpeg, ff, &peak);
        if (s < 0) {
            std::printf("ffmpeg failed\n");
            return {};
        }
        std::printf("  ffmpeg round %d: %.2f s\n", round + 1, s);
        std::fflush(stdout);
        if (best.seconds < 0 || s < best.seconds)
            best.seconds = s;
        best.peakKb = std::max(best.peakKb, peak);
    }
    best.videoKbps = measure(outputs);
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 60;
    int rounds = 1;
    QString keep;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--rounds")
            rounds = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--keep")
            keep = args[i + 1];
    }
    const QString ffmpeg = bench::tool("ffmpeg");
    if (ffmpeg.isEmpty()) {
        std::printf("ffmpeg is not installed\n");
        return 1;
    }
    QTemporaryDir tmp;
    const QString dir = keep.isEmpty() ? tmp.path() : keep;
    QDir().mkpath(dir);
    const QString source = dir + "/source 1080p.mp4";

    std::printf("Making a %d-second 1920 x 1080 H.264 + AAC movie...\n", seconds);
    std::fflush(stdout);
    if (!bench::run(ffmpeg, {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                             "testsrc2=size=1920x1080:rate=30", "-f", "lavfi", "-i",
                             "sine=frequency=440:sample_rate=48000", "-t", QString::number(seconds), "-c:v", "libx264",
                             "-preset", "veryfast", "-b:v", "8M", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k",
                             source}))
        return 1;

    const qm::MovieProbe probe = qm::probeMovie(source);
    if (!probe.ok()) {
        std::printf("probe failed: %s\n", qPrintable(probe.error));
        return 1;
    }
    const qm::FrameRate rate = qm::streamFrameRate(probe.movie);
    const long baseKb = peakKilobytesOfSelf();
    struct Ladder
    {
        qm::VideoCodec codec;
        const char *tag;
        const char *name;
    };
    const Ladder ladders[] = {{qm::VideoCodec::H264, "h264", "H.264 + AAC"},
                              {qm::VideoCodec::Spark, "spark", "Sorenson Spark + MP3"}};
    QStringList report;
    for (const Ladder &ladder : ladders) {
        qm::ConversionRequest request;
        request.source = source;
        request.movie = probe.movie;
        request.settings.codec = ladder.codec;
        request.settings.rungs = qm::defaultLadder(probe.movie, ladder.codec);
        request.thumbnail = dir + "/thumb.jpg";
        std::printf("\n%s ladder:\n", ladder.name);
        std::fflush(stdout);
        const Run ours = runOurs(request, dir, ladder.tag, rounds);
        QString commandLine;
        const Run theirs = runFFmpeg(ffmpeg, source, request, rate, dir, ladder.tag, rounds, &commandLine);
        if (ours.seconds < 0 || theirs.seconds < 0)
            return 1;
        QString text = QStringLiteral("\n%1 s of 1080p into %2 FLV streams (%3):\n").arg(seconds).arg(request.settings.rungs.size()).arg(QLatin1String(ladder.name));
        text += QStringLiteral("  %1  %2  %3  %4\n")
                    .arg(QStringLiteral("stream"), -10)
                    .arg(QStringLiteral("asked"), 10)
                    .arg(QStringLiteral("Quillmere"), 18)
                    .arg(QStringLiteral("ffmpeg"), 18);
        for (int i = 0; i < request.settings.rungs.size(); ++i) {
            const qm::StreamRung &r = request.settings.rungs.at(i);
            auto cell = [&r](double kbps) {
                return QStringLiteral("%1 kbps %2%").arg(kbps, 0, 'f', 0).arg((kbps / r.videoKbps - 1) * 100, 4, 'f', 0);
            };
            text += QStringLiteral("  %1  %2  %3  %4\n")
                        .arg(QStringLiteral("%1x%2").arg(r.size.width()).arg(r.size.height()), -10)
                        .arg(QStringLiteral("%1 kbps").arg(r.videoKbps), 10)
                        .arg(cell(ours.videoKbps.value(i)), 18)
                        .arg(cell(theirs.videoKbps.value(i)), 18);
        }
        text += QStringLiteral("  time: Quillmere %1 s (%2x real time), ffmpeg %3 s (%4x real time), ratio %5 (below 1 is faster)\n")
                    .arg(ours.seconds, 0, 'f', 2)
                    .arg(seconds / ours.seconds, 0, 'f', 1)
                    .arg(theirs.seconds, 0, 'f', 2)
                    .arg(seconds / theirs.seconds, 0, 'f', 1)
                    .arg(ours.seconds / theirs.seconds, 0, 'f', 2);
        text += QStringLiteral("  ffmpeg peak memory %1 MB\n").arg(theirs.peakKb / 1024);
        text += QStringLiteral("  the same work: %1\n").arg(commandLine);
        report << text;
    }
    for (const QString &text : report)
        std::printf("%s", qPrintable(text));
    std::printf("\nQuillmere peak memory %ld MB (process before: %ld MB)\n", peakKilobytesOfSelf() / 1024, baseKb / 1024);
    return 0;
}
