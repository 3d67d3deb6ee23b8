// Converts a generated 60-second 1080p H.264 movie into the default ladder
// of three FLV streams, then makes the same three streams with the ffmpeg
// command line (one decode, same codecs, sizes and bitrates), and prints both
// times, their ratio and the peak memory of each.
//
// Usage: video_bench [--seconds N] [--rounds N] [--keep DIR]

#include "BenchUtil.h"

#include "storage/Job.h"
#include "video/ConversionLadder.h"
#include "video/FLVMetadata.h"
#include "video/VideoConverter.h"

#include <QCoreApplication>
#include <QEventLoop>
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
    qm::ConversionRequest request;
    request.source = source;
    request.movie = probe.movie;
    request.settings.rungs = qm::defaultLadder(probe.movie, qm::VideoCodec::H264);
    request.thumbnail = dir + "/thumb.jpg";
    std::printf("Ladder:");
    for (const qm::StreamRung &r : request.settings.rungs)
        std::printf("  %dx%d %d kbps", r.size.width(), r.size.height(), r.videoKbps);
    std::printf("  + AAC %d kbps\n", request.settings.audioKbps);

    const long baseKb = peakKilobytesOfSelf();
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        request.outputs.clear();
        for (int i = 0; i < request.settings.rungs.size(); ++i) {
            const QString out = QStringLiteral("%1/quillmere_%2.flv").arg(dir).arg(i);
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
            return 1;
        }
        best = round == 0 ? s : std::min(best, s);
        std::printf("Quillmere round %d: %.2f s;", round + 1, s);
        for (const qm::ConvertedStream &c : outcome.streams) {
            int w = 0, h = 0, rate = 0;
            qm::readFLVMetadata(c.path, w, h, rate);
            std::printf("  %dx%d %d kbps", w, h, rate);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    const long ourPeakKb = peakKilobytesOfSelf();

    // The same work: one decode, scaled once to the largest size and from
    // there to the smaller ones, the same encoder settings, AAC at 44.1 kHz.
    QString graph = "[0:v]";
    const auto &rungs = request.settings.rungs;
    const qm::FrameRate rate = qm::streamFrameRate(probe.movie);
    const int keyInterval = rate.num > 0 ? int(std::lround(2 * rate.value())) : 50;
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
    for (int i = 0; i < rungs.size(); ++i) {
        ff << "-map" << (i == 0 ? QStringLiteral("[s0]") : QStringLiteral("[s%1b]").arg(i)) << "-map"
           << QStringLiteral("[a%1]").arg(i) << "-c:v" << "libx264" << "-preset" << "medium" << "-profile:v" << "main"
           << "-b:v" << QStringLiteral("%1k").arg(rungs[i].videoKbps) << "-g" << QString::number(keyInterval)
           << "-c:a" << "aac" << "-b:a" << QStringLiteral("%1k").arg(request.settings.audioKbps) << "-ac" << "2"
           << QStringLiteral("%1/ffmpeg_%2.flv").arg(dir).arg(i);
    }
    double reference = 0;
    long ffPeakKb = 0;
    for (int round = 0; round < rounds; ++round) {
        long peak = 0;
        const double s = runMeasured(ffmpeg, ff, &peak);
        if (s < 0) {
            std::printf("ffmpeg failed\n");
            return 1;
        }
        reference = round == 0 ? s : std::min(reference, s);
        ffPeakKb = std::max(ffPeakKb, peak);
        std::printf("ffmpeg round %d: %.2f s\n", round + 1, s);
        std::fflush(stdout);
    }

    std::printf("\n%d s of 1080p H.264 into %lld FLV streams (H.264 + AAC):\n", seconds, qlonglong(rungs.size()));
    std::printf("  Quillmere (GStreamer):  %6.2f s  %5.1fx real time  peak memory %ld MB (process before: %ld MB)\n",
                best, seconds / best, ourPeakKb / 1024, baseKb / 1024);
    std::printf("  ffmpeg command line:    %6.2f s  %5.1fx real time  peak memory %ld MB\n", reference,
                seconds / reference, ffPeakKb / 1024);
    std::printf("  ratio Quillmere / ffmpeg: %.2f (below 1 is faster)\n", best / reference);
    return 0;
}
