// strandel-testserver ROOT PORT USER... [--alias NAME] [--prepare-ms N]
// strandel-testserver --make-zip ARCHIVE FILE...   (a zip with the archive password)
//
// A loopback SOAP server with the central server's interface, for tests and
// the demo. ROOT is its folder (created when missing); PORT 0 picks a free
// port. Each USER is FICHIERZIP/USAGER/MOTDEPASSE. It listens on 127.0.0.1
// only, prints "PORT <n>" on its first line once it listens, and logs one
// line per call on standard error.
//
// Service URL: http://127.0.0.1:<port>/<alias>/strandelsvr.exe/soap/echoservice
// (alias "strandel" unless given).
//
// Control: POST http://127.0.0.1:<port>/__control with lines of
//   reset                         forget every switch below
//   mode <operation|*> <mode> [text]
//       fault, fault-detail, fault-200, fault-raw [body], fault-multipart,
//       http-404, garbage, entity, deep, huge, lying-http-length,
//       alt-prefix, array-href, no-closing, truncated-multipart,
//       missing-attachment, wrong-cid, lying-length,
//       oversize [bytes|unannounced]  (GetAttachment: the attachment
//                          announced at that size, 3000000000 by default, or
//                          without Content-Length; cut after 64 MiB)
//   answer <operation> <text>     the return value becomes <text> (may be empty)
//   acces <operation> <text>      the in/out parameter Acces becomes <text>
//   delay <operation> <ms>        wait before answering
//   script <accession> <ERR|ACK|OK2> [text]   how requests for it are answered
//   hold <operation> <name|*>     the next call of it with that "name" parameter
//                                 waits before its answer; ROOT/held exists meanwhile
//   release                       lets the held call answer
//   prepare-ms <ms>               preparation time of a study

#include "testserver/echoserver.h"
#include "testserver/ziparchive.h"

#include <QFileInfo>

#include <QCoreApplication>
#include <QDir>

#include <httplib.h>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--make-zip") && args.size() >= 3) {
        QList<testserver::ZipEntry> entries;
        for (const QString &f : args.mid(2))
            entries.append({QFileInfo(f).fileName(), f, {}});
        QString error;
        if (!testserver::writeZip(args[1], entries, QLatin1String(testserver::kArchivePassword), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    QString alias = QStringLiteral("strandel");
    int prepareMs = 2000;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--alias") && i + 1 < args.size())
            alias = args[++i];
        else if (args[i] == QLatin1String("--prepare-ms") && i + 1 < args.size())
            prepareMs = args[++i].toInt();
        else
            positional.append(args[i]);
    }
    if (positional.size() < 2) {
        std::fprintf(stderr, "usage: strandel-testserver ROOT PORT FICHIERZIP/USAGER/MOTDEPASSE... "
                             "[--alias NAME] [--prepare-ms N]\n");
        return 2;
    }
    QList<testserver::User> users;
    for (const QString &u : positional.mid(2)) {
        testserver::User user;
        if (!testserver::parseUser(u, &user)) {
            std::fprintf(stderr, "usager invalide : %s\n", qPrintable(u));
            return 2;
        }
        users.append(user);
    }
    bool portOk = false;
    const int port = positional[1].toInt(&portOk);
    if (!portOk || port < 0 || port > 65535) {
        std::fprintf(stderr, "port invalide : %s\n", qPrintable(positional[1]));
        return 2;
    }
    if (!QDir().mkpath(positional[0])) {
        std::fprintf(stderr, "dossier impossible : %s\n", qPrintable(positional[0]));
        return 2;
    }

    testserver::EchoServer server(positional[0], alias, users);
    server.setPrepareMilliseconds(prepareMs);
    httplib::Server http;
    http.Post(".*", [&](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader) {
        server.handle(req, res, reader);
    });
    http.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        res.status = 500;
        res.set_content("Erreur interne du serveur de test", "text/plain");
    });
    int bound = port;
    if (port == 0)
        bound = http.bind_to_any_port("127.0.0.1");
    else if (!http.bind_to_port("127.0.0.1", port))
        bound = -1;
    if (bound <= 0) {
        std::fprintf(stderr, "écoute impossible sur le port %d\n", port);
        return 1;
    }
    std::printf("PORT %d\n", bound);
    std::fflush(stdout);
    return http.listen_after_bind() ? 0 : 1;
}
