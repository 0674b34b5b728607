// Offscreen pictures of the transfer client's windows (written to
// <build>/screenshots/ for a person to look at), with the checks that the
// windows were drawn at their designed sizes.

#include "clienttestutil.h"

#include "transfer/core/clientform.h"
#include "transfer/core/formconfig.h"
#include "transfer/core/formparametres.h"
#include "transfer/core/formpassword.h"
#include "transfer/core/formrequete.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

using namespace strandel;
using namespace clienttest;

namespace {

QString shotPath(const QString &name)
{
    const QString folder = QStringLiteral(KORVANE_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    return folder + QStringLiteral("/strandel_") + name + QStringLiteral(".png");
}

void save(QWidget *w, const QString &name)
{
    const QPixmap p = w->grab();
    ASSERT_FALSE(p.isNull());
    ASSERT_TRUE(p.save(shotPath(name)));
}

} // namespace

TEST(ClientScreens, MainWindowParametersAndRequest)
{
    TestServer server(60000);
    ASSERT_GT(server.port(), 0);
    server.addStudy("ACC-2024-0001");
    QTemporaryDir dir;
    writeFile(dir.filePath("Strandel.ini"),
              configuredIni("Port=" + QByteArray::number(server.port())
                            + "\r\nRequete=1\r\nDicteeActif=1\r\nRapport=1\r\nDelai=10\r\n"));
    UiRecorder rec;
    TClientForm form(dir.path(), CommandLine({"Strandel"}), rec.ui());
    form.features().download = [](TClientForm &) {};
    rec.onDialog = [](QDialog &d) {
        if (auto *p = qobject_cast<TFormPassWord *>(&d)) {
            p->passwordEdit()->setText("SECRET");
            p->tryPassword();
        }
        return d.result();
    };
    ASSERT_TRUE(form.startUp());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    save(&form, "main_idle");

    // The request dialog as the user fills it.
    TFormRequete *r = form.formRequete();
    r->reportBox()->setChecked(true);
    r->prepare(form.settings());
    r->show();
    QTest::keyClicks(r->accessionEdit(), "acc-2024-0001");
    r->dateEdit()->setText("1957-04-23");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(r));
    save(r, "request");
    r->hide();

    // Waiting for the server's answer.
    rec.onDialog = [](QDialog &d) {
        auto *q = qobject_cast<TFormRequete *>(&d);
        if (q)
            q->envoyer();
        return d.result();
    };
    form.setTickInterval(50);
    form.requestClicked();
    ASSERT_TRUE(form.waiting());
    QTRY_VERIFY_WITH_TIMEOUT(!form.answerLabel()->text().isEmpty(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(form.waitCounter() >= 4, 5000);
    save(&form, "main_waiting");
    form.StopWaitMode();

    // The parameters dialog, one picture per tab.
    TFormParametres p(form.settings(), form.soapClient(), rec.ui(), form.formRequete(), {});
    p.prepare();
    p.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p));
    const char *names[3] = {"parameters_acces", "parameters_personnaliser", "parameters_options"};
    for (int i = 0; i < 3; ++i) {
        p.tabs()->setCurrentIndex(i);
        QTest::qWait(20);
        save(&p, QString::fromLatin1(names[i]));
    }
    // Every control of the busiest tab fits in the window.
    p.tabs()->setCurrentIndex(2);
    for (QWidget *w : p.tabs()->currentWidget()->findChildren<QWidget *>()) {
        if (w->isVisible())
            EXPECT_TRUE(p.rect().contains(QRect(w->mapTo(&p, QPoint(0, 0)), w->size())))
                << w->metaObject()->className();
    }
}

TEST(ClientScreens, PasswordAndFirstTimeConfiguration)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("Strandel.ini"), "[parametres]\r\nFichierZip=CLINIQUE\r\nMotDePasse=SECRET\r\n");
    UiRecorder rec;
    TransferSettings s;
    s.setFile(dir.filePath("Strandel.ini"));
    TFormPassWord password(s, rec.ui());
    password.prepare();
    password.show();
    QTest::keyClicks(password.passwordEdit(), "sec");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&password));
    EXPECT_EQ(password.userLabel()->text(), "CLINIQUE");
    save(&password, "password");

    s.AdresseIp.clear();
    TFormConfig config(s, rec.ui(), false, [](bool, bool) {});
    config.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&config));
    save(&config, "config");
    const int full = config.height();
    // With the server known, its group is hidden and the window shrinks.
    s.AdresseIp = "127.0.0.1";
    s.Alias = "strandel";
    TFormConfig shorter(s, rec.ui(), true, [](bool, bool) {});
    shorter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shorter));
    EXPECT_LT(shorter.height(), full - 100);
    save(&shorter, "config_short");
}
