#include "viewer/shell/formpassword.h"

#include "imaging/imaging.h"
#include "viewer/shell/jpegpicture.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {
constexpr int kWidth = 634;
constexpr int kHeight = 443;
} // namespace

QString TFormPassword::ApplyComponentSettings()
{
    TTemplateDM *dm = TemplateDMIfAny();
    if (!dm)
        return QString();
    try {
        const auto global = dm->CreateComponent<imaging::DicomGlobal>();
        global->SetDirectionStrings(QStringLiteral("D\\G\\A\\P\\I\\S"));
        const int directDraw = dm->ReadMachineInteger(QStringLiteral("*DirectDraw"));
        if (directDraw != -1)
            global->SetRegWord(QStringLiteral("DirectDraw"), directDraw);
        if (dm->HasOption(QStringLiteral("DirectDraw")) || dm->HasOption(QStringLiteral("/DirectDraw")))
            global->SetRegWord(QStringLiteral("DirectDraw"), 0);
        const int staticPalette = dm->ReadMachineInteger(QStringLiteral("*StaticPalette"));
        if (staticPalette != -1)
            global->SetRegWord(QStringLiteral("StaticPalette"), staticPalette);
        if (dm->HasOption(QStringLiteral("StaticPalette")) || dm->HasOption(QStringLiteral("/StaticPalette")))
            global->SetRegWord(QStringLiteral("StaticPalette"), 1);
        global->SetRegWord(QStringLiteral("ScaleLineWidth"), 0);
        return global->Version();
    } catch (const std::exception &error) {
        qWarning("KorvaneCD: component settings not applied: %s", error.what());
        return QString();
    }
}

TFormPassword::TFormPassword(bool startupFinished, QWidget *parent)
    : TTemplate1(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      startupFinished_(startupFinished)
{
    componentVersion_ = ApplyComponentSettings();

    QFile resource(QStringLiteral(":/LGOKORVANECD"));
    if (resource.open(QIODevice::ReadOnly))
        picture_ = shell::DecodeJpeg(resource.readAll());

    auto *central = new QWidget(this);
    setCentralWidget(central);
    setFixedSize(kWidth, kHeight);
    pictureLabel_ = new QLabel(central);
    pictureLabel_->setGeometry(0, 0, kWidth, kHeight);
    if (!picture_.isNull())
        pictureLabel_->setPixmap(QPixmap::fromImage(picture_).scaled(kWidth, kHeight));
    else
        pictureLabel_->setStyleSheet(QStringLiteral("background: rgb(20, 40, 80);"));

    const auto makeLabel = [central](int y, int pointSize, bool bold) {
        auto *label = new QLabel(central);
        QFont font(QStringLiteral("Arial"));
        font.setPointSize(pointSize);
        font.setBold(bold);
        label->setFont(font);
        label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
        label->setGeometry(24, y, 480, 22);
        return label;
    };
    notice_ = makeLabel(kHeight - 100, 11, true);
    version_ = makeLabel(kHeight - 74, 9, false);
    component_ = makeLabel(kHeight - 52, 9, false);

    ok_ = new QPushButton(QStringLiteral("OK"), central);
    cancel_ = new QPushButton(QStringLiteral("Annuler"), central);
    ok_->setGeometry(kWidth - 196, kHeight - 44, 80, 26);
    cancel_->setGeometry(kWidth - 104, kHeight - 44, 80, 26);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, [this]() { Finish(mrOk); });
    connect(cancel_, &QPushButton::clicked, this, [this]() { Finish(mrCancel); });

    auto *okAction = new QAction(this);
    okAction->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    connect(okAction, &QAction::triggered, this, [this]() { Finish(mrOk); });
    auto *cancelAction = new QAction(this);
    cancelAction->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(cancelAction, &QAction::triggered, this, [this]() {
        if (cancel_->isEnabled())
            Finish(mrCancel);
    });
    // Alt+F4 is taken by an action that does nothing.
    auto *altF4 = new QAction(this);
    altF4->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    addActions({okAction, cancelAction, altF4});
}

void TFormPassword::showEvent(QShowEvent *event)
{
    TTemplate1::showEvent(event);
    notice_->setText(shell::ApplicationTitle());
    version_->setText(QStringLiteral("Version ") + shell::FileVersion());
    component_->setText(componentVersion_.isEmpty()
                            ? QStringLiteral("Composant d'imagerie non disponible")
                            : QStringLiteral("Composant d'imagerie ") + componentVersion_);
    if (!startupFinished_) {
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - QPoint(width() / 2, height() / 2));
        shell::ApplyProcessFormats();
    }
}

bool TFormPassword::event(QEvent *event)
{
    if ((event->type() == QEvent::WindowActivate || event->type() == QEvent::Show) && startupFinished_ &&
        !aboutArranged_) {
        aboutArranged_ = true;
        // About box: only "OK", where "Annuler" was; sized to the picture, centred.
        cancel_->setEnabled(false);
        cancel_->hide();
        ok_->setGeometry(cancel_->geometry());
        setFixedSize(kWidth, kHeight);
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            move(screen->geometry().center() - QPoint(width() / 2, height() / 2));
    }
    return TTemplate1::event(event);
}

void TFormPassword::Finish(int result)
{
    finishing_ = true;
    CloseWithResult(result);
    finishing_ = false;
}

void TFormPassword::closeEvent(QCloseEvent *event)
{
    // Only "OK" and "Annuler" close the form.
    if (!finishing_) {
        event->ignore();
        return;
    }
    TTemplate1::closeEvent(event);
}
