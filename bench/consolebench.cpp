// Measures the program in two ways and prints one table with each figure's target:
// - offscreen: the program's own main window, link and console in this process against a
//   pseudo-terminal far end (ingest rates, display, button and access key latencies, processor
//   use, memory). It uses only what every release of the console offers (text() and the link's
//   `received`), so that it also builds against the previous release (tools/bench-previous.sh).
// - through X: the real program under an Xvfb of its own, as the operator gets it (start-up,
//   processor use of the program and the X server, memory, a key and a click), beside a bare Qt
//   widget for scale.
// --page FILE puts the table in place of the first such table in FILE.
#include "designfonts.h"
#include "form1.h"
#include "offscreenbench.h"
#include "xvfbbench.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

namespace {

QString ingestResult(const Ingest &run)
{
    if (run.complete && run.rate() >= 0.1)
        return number(run.seconds, 2) + QStringLiteral(" s, ") + number(run.rate(), 1) + QStringLiteral(" MB/s");
    const QString rate = number(run.rate() * 1024, 1) + QStringLiteral(" KB/s");
    if (run.complete)
        return rate;
    return rate
           + QStringLiteral(" (stopped after %1 s at %2 MB)")
                 .arg(number(run.seconds, 0), number(double(run.reached) / megabyte, 2));
}

QString sustained(const Ingest &run)
{
    if (!run.firstWindowRate || !run.lastWindowRate)
        return QStringLiteral("n/a (not reached)");
    return QStringLiteral("%1 of %2 MB per second of the window's processor time (%3 %); arriving %4 of %5 MB/s (%6 %)")
        .arg(number(*run.lastWindowWorkRate, 1), number(*run.firstWindowWorkRate, 1),
             number(*run.lastWindowWorkRate / *run.firstWindowWorkRate * 100, 0), number(*run.lastWindowRate, 1),
             number(*run.firstWindowRate, 1), number(*run.lastWindowRate / *run.firstWindowRate * 100, 0));
}


QString shareResult(double program, double server)
{
    return QStringLiteral("%1 % (program %2 + X server %3)")
        .arg(number((program + server) * 100, 2), number(program * 100, 2), number(server * 100, 2));
}

QString megabytes(double value)
{
    return number(value, 1) + QStringLiteral(" MB");
}

// `others`: further builds of the program (e.g. an earlier commit's), taking turns with this one.
void addStartupRows(Table &table, const QStringList &others = {})
{
    const QString bare = QStringLiteral(TK_BARE_WIDGET_PATH);
    QList<QStringList> commands{{QStringLiteral(TK_PROGRAM_PATH)}, {bare}, {bare, QStringLiteral("--label")}};
    for (const QString &other : others)
        commands.append({other});
    const auto runs = startups(commands, startupRuns);
    const auto row = [&](const QString &measure, const std::vector<double> &times,
                         const QString &target = QStringLiteral("—"), std::optional<bool> met = std::nullopt) {
        const QString result = times.empty() ? QStringLiteral("n/a (no window mapped)")
                                             : QStringLiteral("%1 ms (%2 to %3)")
                                                   .arg(number(percentile(times, 50), 1), number(percentile(times, 0), 1),
                                                        number(percentile(times, 100), 1));
        table.add(measure.arg(times.size()), result, target, met);
    };
    row(QStringLiteral("Xvfb: start-up, exec to the port window mapped, median of %1"), runs[0], QStringLiteral("≤ 30 ms"),
        !runs[0].empty() && percentile(runs[0], 50) <= 30);
    row(QStringLiteral("Xvfb: start-up of a bare Qt widget (for scale), median of %1"), runs[1]);
    row(QStringLiteral("Xvfb: start-up of a bare Qt label showing \"COM PORT\" (a window with text), median of %1"),
        runs[2]);
    for (qsizetype i = 3; i < commands.size(); ++i)
        row(QStringLiteral("Xvfb: start-up of ") + commands[i].first() + QStringLiteral(", median of %1"), runs[size_t(i)]);
}

void addXvfbRows(Table &table)
{
    addStartupRows(table);
    const ThroughX x = measureProgramThroughX(QStringLiteral(TK_PROGRAM_PATH));
    const double bareResident = residentAtStart(QStringLiteral(TK_BARE_WIDGET_PATH));
    table.add(QStringLiteral("Xvfb: processor, idle with the port open (10 s)"), shareResult(x.idleShare, x.idleServerShare),
              QStringLiteral("≤ 0.5 %"), x.idleShare + x.idleServerShare <= 0.005);
    table.add(QStringLiteral("Xvfb: processor, 100 lines a second shown, following the end (10 s)"),
              shareResult(x.trickleShare, x.trickleServerShare), QStringLiteral("≤ 3 %"),
              x.trickleShare + x.trickleServerShare <= 0.03);
    const QString key = QStringLiteral("Xvfb: Alt+T key to \"@S\" at the far end");
    table.add(key + QStringLiteral(", median (%1 presses)").arg(x.keyLatencies.size()), ms(percentile(x.keyLatencies, 50)),
              QStringLiteral("≤ 0.7 ms"), !x.keyLatencies.empty() && percentile(x.keyLatencies, 50) <= 0.7);
    const QString click = QStringLiteral("Xvfb: click on Access to \"@A\" at the far end");
    table.add(click + QStringLiteral(", median (%1 clicks)").arg(x.clickLatencies.size()),
              ms(percentile(x.clickLatencies, 50)), QStringLiteral("≤ 1 ms"),
              !x.clickLatencies.empty() && percentile(x.clickLatencies, 50) <= 1);
    table.add(QStringLiteral("Xvfb: resident memory at rest, port open"), megabytes(x.residentAtRest),
              QStringLiteral("≤ 28 MB"), x.residentAtRest <= 28);
    table.add(QStringLiteral("Xvfb: resident memory of a bare Qt widget at rest (for scale)"), megabytes(bareResident));
    table.add(QStringLiteral("Xvfb: peak resident memory, 16 MiB with CR LF"), megabytes(x.peakAfterFlood),
              QStringLiteral("≤ 47 MB"), x.peakAfterFlood <= 47);
}

// Puts `table` in place of the first table of measures in the page at `path`.
bool writePage(const QString &path, const QString &table)
{
    QFile page(path);
    if (!page.open(QIODevice::ReadOnly))
        return false;
    QString text = QString::fromUtf8(page.readAll());
    page.close();
    // The bench's own header, which the page's other tables do not share.
    const qsizetype from = text.indexOf(table.left(table.indexOf(u'\n') + 1));
    if (from < 0)
        return false;
    qsizetype to = from;
    while (to < text.size() && text[to] == u'|') {
        const qsizetype end = text.indexOf(u'\n', to);
        to = end < 0 ? text.size() : end + 1;
    }
    text.replace(from, to - from, table);
    return page.open(QIODevice::WriteOnly | QIODevice::Truncate) && page.write(text.toUtf8()) >= 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    designfonts::install();
    const QStringList arguments = app.arguments();
    const bool offscreen = !arguments.contains(QStringLiteral("--xvfb-only"));
    const bool throughX = !arguments.contains(QStringLiteral("--no-xvfb"));

    Table table;
    bool exact = true;
    // For a profiler: one measure alone.
    if (arguments.contains(QStringLiteral("--trickle-only"))) {
        Bench bench;
        // What the trickle costs with nothing painted.
        if (arguments.contains(QStringLiteral("--hidden")))
            bench.form().hide();
        std::printf("trickle: %.2f %% of a core\n", bench.trickleLoad() * 100);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--keys-only"))) {
        Bench bench;
        for (const double latency : bench.accessKeyLatencies())
            std::printf("%.2f ", latency);
        std::printf("ms from Alt+T to \"@S\" at the far end\n");
        return 0;
    }
    if (arguments.contains(QStringLiteral("--connect-only"))) {
        const Connecting run = connecting(QStringLiteral("rfc2217://no-such-host.invalid:2217"));
        std::printf("unresolvable device server: longest gap %.2f ms, answer %d after %.1f ms\n", run.longestGap,
                    run.failure, run.answer);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--idle-only"))) {
        Bench bench;
        std::printf("idle: %.2f %% of a core\n", bench.idleLoad() * 100);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--flood-only"))) {
        Bench bench;
        const std::vector<double> button = bench.buttonLatencies(16 * megabyte);
        std::printf("press during a 16 MB flood: median %.2f ms, p99 %.2f ms (%zu presses)\n", percentile(button, 50),
                    percentile(button, 99), button.size());
        return 0;
    }
    if (arguments.contains(QStringLiteral("--sustained-only"))) {
        Bench bench;
        for (const bool breaks : {true, false}) {
            const Ingest run = bench.ingest(256 * megabyte, breaks);
            std::printf("256 MB%s: %s; %s\n", breaks ? " with CR LF" : "", qPrintable(ingestResult(run)),
                        qPrintable(sustained(run)));
        }
        return 0;
    }
    if (arguments.contains(QStringLiteral("--ingest-only"))) {
        Bench bench;
        for (const bool breaks : {true, false}) {
            const Ingest run = bench.ingest(16 * megabyte, breaks);
            std::printf("ingest 16 MB%s: %s, peak resident %.1f MB\n", breaks ? " with CR LF" : "",
                        qPrintable(ingestResult(run)), run.peakAfter);
        }
        if (const std::optional<Ingest> run = bench.ingestInByteView(16 * megabyte))
            std::printf("ingest 16 MB with CR LF, byte view shown: %s\n", qPrintable(ingestResult(*run)));
        return 0;
    }
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--startup-only")); at > 0) {
        addStartupRows(table, arguments.mid(at + 1));
        std::fputs(qPrintable(table.markdown()), stdout);
        return 0;
    }
    if (offscreen) {
        {
            Bench bench;
            const double residentIdle = bench.residentNow();
            const double idle = bench.idleLoad();
            const double paced = bench.pacedWaitLoad();

            // 16 MB first, so that the peak so far is the peak of holding 16 MB.
            std::vector<Ingest> runs;
            for (const qsizetype size : {16 * megabyte, 256 * megabyte}) {
                for (const bool breaks : {true, false}) {
                    const Ingest run = bench.ingest(size, breaks);
                    exact = exact && (!run.complete || run.exact);
                    const QString kind = breaks ? QStringLiteral("CR LF every 80 bytes") : QStringLiteral("no line break");
                    const bool small = size == 16 * megabyte;
                    table.add(QStringLiteral("ingest %1 MB, %2").arg(size / megabyte).arg(kind), ingestResult(run),
                              small ? QStringLiteral("< 0.5 s (≥ 32 MB/s)") : QStringLiteral("—"),
                              small ? std::optional<bool>(run.complete && run.rate() >= 32) : std::nullopt);
                    if (!small) {
                        // A faster end is no slowdown; only a slower one counts against the target.
                        table.add(QStringLiteral("last 32 MB against first 32 MB of 256 MB, %1").arg(kind), sustained(run),
                                  QStringLiteral("within 20 %"),
                                  run.lastWindowWorkRate && *run.lastWindowWorkRate >= 0.8 * *run.firstWindowWorkRate);
                    }
                    runs.push_back(run);
                }
            }
            if (const std::optional<Ingest> run = bench.ingestInByteView(16 * megabyte)) {
                exact = exact && (!run->complete || run->exact);
                table.add(QStringLiteral("ingest 16 MB, CR LF every 80 bytes, byte view shown"), ingestResult(*run),
                          QStringLiteral("≥ 1 MB/s"), run->complete && run->rate() >= 1);
            }
            const std::vector<double> display = bench.displayLatencies();
            const bool allShown = display.size() == size_t(pacedBytes);
            table.add(QStringLiteral("byte arrival to display at 4800 baud, median (%1 bytes)").arg(display.size()),
                      ms(percentile(display, 50)));
            table.add(QStringLiteral("byte arrival to display at 4800 baud, p99"), ms(percentile(display, 99)),
                      QStringLiteral("≤ 20 ms"), allShown && percentile(display, 99) <= 20);

            const std::vector<double> keys = bench.accessKeyLatencies();
            const QString key = QStringLiteral("Alt+T key to \"@S\" at the far end");
            table.add(key + QStringLiteral(", median (%1 presses)").arg(keys.size()), ms(percentile(keys, 50)));
            table.add(key + QStringLiteral(", worst"), ms(percentile(keys, 100)), QStringLiteral("≤ 5 ms"),
                      keys.size() == size_t(keyPresses) && percentile(keys, 100) <= 5);

            const std::vector<double> button = bench.buttonLatencies(16 * megabyte);
            const QString press = QStringLiteral("Access button press to \"@A\" at the far end during a 16 MB flood");
            table.add(press + QStringLiteral(", median (%1 presses)").arg(button.size()), ms(percentile(button, 50)));
            table.add(press + QStringLiteral(", p99"), ms(percentile(button, 99)), QStringLiteral("≤ 5 ms"),
                      !button.empty() && percentile(button, 99) <= 5);

            table.add(QStringLiteral("processor, idle with the port open (10 s, console focused)"),
                      number(idle * 100, 2) + QStringLiteral(" % of a core"), QStringLiteral("≤ 0.5 %"), idle <= 0.005);
            const double trickle = bench.trickleLoad();
            table.add(QStringLiteral("processor, 100 short lines a second (10 s, console focused)"),
                      number(trickle * 100, 2) + QStringLiteral(" % of a core"), QStringLiteral("< 1 %"), trickle < 0.01);
            table.add(QStringLiteral("processor, idle with a bare timer waking every 16 ms (10 s; a trickle's floor)"),
                      number(bench.frameClockLoad() * 100, 2) + QStringLiteral(" % of a core"));
            table.add(QStringLiteral("processor, during a one-second PacedWait"),
                      number(paced * 100, 2) + QStringLiteral(" % of a core"), QStringLiteral("≤ 5 %"), paced <= 0.05);
            table.add(QStringLiteral("resident memory, idle with the port open"),
                      number(residentIdle, 1) + QStringLiteral(" MB"), QStringLiteral("≤ 50 MB"), residentIdle <= 50);
            table.add(QStringLiteral("peak resident memory, 16 MB with CR LF in the console"),
                      number(runs.front().peakAfter, 1) + QStringLiteral(" MB"), QStringLiteral("≤ 50 MB"),
                      runs.front().complete && runs.front().peakAfter <= 50);
            for (const Ingest &run : runs) {
                const bool large = run.size > 16 * megabyte;
                table.add(QStringLiteral("resident memory after %1 MB %2")
                              .arg(run.size / megabyte)
                              .arg(run.breaks ? QStringLiteral("with CR LF") : QStringLiteral("without breaks")),
                          run.complete ? number(run.residentAfter, 1) + QStringLiteral(" MB")
                                       : QStringLiteral("n/a (not all received)"),
                          large ? QStringLiteral("< 200 MB") : QStringLiteral("—"),
                          large ? std::optional<bool>(run.complete && run.residentAfter < 200) : std::nullopt);
            }
        }

        {
            const Connecting run = connecting(QStringLiteral("rfc2217://no-such-host.invalid:2217"));
            table.add(QStringLiteral("longest event-loop gap while a device server's name does not resolve"),
                      ms(run.longestGap), QStringLiteral("≤ 50 ms"), run.longestGap <= 50);
            table.add(QStringLiteral("that name to \"PORT Hatası %1\"").arg(run.failure), ms(run.answer),
                      QStringLiteral("≤ 8 s"), run.failure != 0 && run.answer <= 8000);
        }

        table.add(QStringLiteral("every received byte in the console, in order, once"),
                  exact ? QStringLiteral("yes, in every completed run") : QStringLiteral("NO"), QStringLiteral("yes"),
                  exact);
    }
    if (throughX)
        addXvfbRows(table);
    std::fputs(qPrintable(table.markdown()), stdout);
    const qsizetype page = arguments.indexOf(QStringLiteral("--page"));
    if (page > 0 && page + 1 < arguments.size() && !writePage(arguments[page + 1], table.markdown())) {
        std::fprintf(stderr, "no table of measures to replace in %s\n", qPrintable(arguments[page + 1]));
        return 1;
    }
    return 0;
}
