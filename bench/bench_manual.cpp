// The manual transfer with a crowded program folder: the send-at-once button's handler,
// connected to a local pyftpdlib server, with the hour's file among tens of thousands
// of others, beside a bare listing of that folder (QDir, names only, unsorted) taken in
// the same run, interleaved.
//
//   bench_manual [FILES=50000] [ROUNDS=9]

#include "benchutil.h"
#include "formharness.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
    QApplication app(argc, argv);

    FormHarness h;
    h.server.makeDir(QStringLiteral("pub"));
    // Empty files: what is measured is the number of names, not their size.
    for (int i = 0; i < files; ++i) {
        QFile file(h.folder.filePath(QStringLiteral("img%1.jpg").arg(i, 6, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "could not fill the program folder\n");
            return 1;
        }
    }
    h.folder.writeFile(QStringLiteral("13.jpg"), QByteArray(64 * 1024, 'j'));
    if (!h.start())
        return 1;
    FTPformTestAccess& f = h.f();
    f.click(f.cmdConnect);
    if (!f.connected())
        return 1;
    f.Text5->setText(f.myPath() + QStringLiteral("13.jpg"));

    const QString folder = h.folder.path();
    qsizetype listed = 0;
    std::vector<double> ours, theirs;
    for (int i = 0; i < rounds; ++i) {
        h.platform.messages.clear();
        auto a = bench::Clock::now();
        f.click(f.Command5); // and the upload it starts
        ours.push_back(bench::seconds(a, bench::Clock::now()));
        if (h.platform.messages != QStringList{QStringLiteral("転送しました")}) {
            std::fprintf(stderr, "the transfer did not succeed: %s\n", qPrintable(h.platform.messages.join(u'|')));
            return 1;
        }

        a = bench::Clock::now();
        listed = QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted).size();
        theirs.push_back(bench::seconds(a, bench::Clock::now()));
    }
    // The file list must have listed the whole folder, or the comparison means nothing.
    if (listed < files || f.File1->count() != listed) {
        std::fprintf(stderr, "listed %lld, the file list shows %d\n", static_cast<long long>(listed), f.File1->count());
        return 1;
    }
    // The handler's local part alone: the file list selecting the file, the one step that
    // would grow with the folder if it read the folder again on every send. The rest is
    // the CWD and the upload.
    std::vector<double> refill;
    for (int i = 0; i < rounds; ++i) {
        const auto a = bench::Clock::now();
        f.File1->setFileName(f.Text5->text());
        refill.push_back(bench::seconds(a, bench::Clock::now()));
    }
    const bench::Stats o = bench::summarise(ours), t = bench::summarise(theirs), r = bench::summarise(refill);
    std::printf("manual transfer, %d files in the folder, %d rounds   median      min      max (ms)\n", files, rounds);
    std::printf("  skylark (button handler)    %8.2f %8.2f %8.2f\n", o.median * 1e3, o.min * 1e3, o.max * 1e3);
    std::printf("  QDir listing of the folder  %8.2f %8.2f %8.2f\n", t.median * 1e3, t.min * 1e3, t.max * 1e3);
    std::printf("  ratio skylark/listing       %8.3f   (target <= 2)\n", o.median / t.median);
    std::printf("  of which the file list      %8.2f %8.2f %8.2f\n", r.median * 1e3, r.min * 1e3, r.max * 1e3);
    std::printf("RESULT manual %.6f %.6f\n", o.median, t.median);
    return 0;
}
