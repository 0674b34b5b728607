// studygen --out DIR [--preset demo|ct-large|ct-noise|mixed|nonsquare|cine] [--images N] [--seed S]
//          [--syntax jpeg2000|jpegls|jpeg14|rle]
// studygen --summary DIR
#include "studygen.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr), out(stdout);
    const QStringList args = app.arguments();
    studygen::Options o;
    QString summaryDir;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        auto next = [&]() -> QString {
            if (i + 1 >= args.size()) {
                err << "studygen: " << a << " needs a value\n";
                std::exit(2);
            }
            return args[++i];
        };
        bool ok = true;
        if (a == "--out")
            o.outDir = next();
        else if (a == "--preset")
            o.preset = next();
        else if (a == "--images")
            o.images = next().toInt(&ok);
        else if (a == "--syntax")
            o.syntax = next();
        else if (a == "--seed")
            o.seed = next().toUInt(&ok);
        else if (a == "--summary")
            summaryDir = next();
        else
            ok = false;
        if (!ok) {
            err << "usage: studygen --out DIR [--preset demo|ct-large|ct-noise|mixed|nonsquare|cine] [--images N] [--seed S]\n"
                   "                    [--syntax jpeg2000|jpegls|jpeg14|rle]\n"
                   "       studygen --summary DIR\n";
            return 2;
        }
    }
    if (!summaryDir.isEmpty()) {
        QStringList lines;
        const int problems = studygen::summarize(summaryDir, &lines);
        for (const QString &l : lines)
            out << l << "\n";
        out.flush();
        return problems == 0 ? 0 : 1;
    }
    if (o.outDir.isEmpty()) {
        err << "studygen: --out DIR is required\n";
        return 2;
    }
    QString error;
    if (!studygen::generate(o, &error)) {
        err << "studygen: " << error << "\n";
        return 1;
    }
    return 0;
}
