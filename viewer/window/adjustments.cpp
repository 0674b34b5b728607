// Window presets and the custom window dialog of the main window: the preset menu of the
// current image's modality (rebuilt at every change of the controls), a preset applied
// to the frame's series, its function-key shortcut offered before any other use of the
// key, and the dialog "Personnaliser".

#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formintensite.h"
#include "viewer/window/formviewer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

namespace {

// The modality of the image a frame shows; empty without a frame or an image.
QString ShownModality(const TFrameDicomViewer *frame)
{
    if (!frame)
        return {};
    const auto image = frame->DicomViewer()->Images()->Item(frame->CurrentImageIndex);
    return image ? loading::AttributeText(*image->Attributes(), 0x0008, 0x0060) : QString();
}

} // namespace

QKeySequence TFormViewer::PresetKey(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    const QKeySequence key = QKeySequence::fromString(trimmed, QKeySequence::PortableText);
    // One key, and one Qt knows by that name (an unknown text gives nothing).
    if (key.count() != 1 || key[0].key() == Qt::Key_unknown || key[0].key() == 0)
        return {};
    return key;
}

void TFormViewer::RebuildPresetMenu()
{
    QMenu *menu = Menu(QStringLiteral("PopupMenuIntensite"));
    if (!menu)
        return;
    const QList<QAction *> items = menu->actions();
    for (int i = 1; i < items.size(); ++i) {
        menu->removeAction(items[i]);
        items[i]->deleteLater();
    }
    menu->addSeparator();
    const QString modality = ShownModality(currentFrame_);
    if (modality.isEmpty())
        return;
    const TSettingsStore &store = TemplateDM().Settings();
    for (const QString &name : store.ListPresets(modality)) {
        QAction *item = menu->addAction(name);
        item->setToolTip(name);
        item->setStatusTip(name);
        // The main window offers keys to these items itself (PresetShortcut); the menu
        // only shows them.
        item->setShortcutContext(Qt::WidgetShortcut);
        if (const auto preset = store.ReadPreset(modality, name))
            item->setShortcut(PresetKey(preset->ShortCut));
        connect(item, &QAction::triggered, this, [this, item] { ApplyPreset(item); });
    }
}

void TFormViewer::ApplyPreset(QAction *item)
{
    TFrameDicomViewer *frame = currentFrame_;
    if (!item || !frame || !ActiveChild())
        return;
    const auto image = frame->DicomViewer()->Images()->Item(frame->CurrentImageIndex);
    if (!image)
        return;
    const QString modality = loading::AttributeText(*image->Attributes(), 0x0008, 0x0060);
    const QString name = item->toolTip().trimmed();
    if (name.isEmpty())
        return;
    const auto preset = TemplateDM().Settings().ReadPreset(modality, name);
    if (!preset)
        return; // the store has told the user
    image->SetWidth(preset->Width);
    image->SetLevel(preset->Level);
    frame->ApplyToSeries(1);
    SaveCurrentFrame();
}

bool TFormViewer::PresetShortcut(const QKeyCombination &key)
{
    if (!ActiveChild() || !currentFrame_)
        return false;
    QMenu *menu = Menu(QStringLiteral("PopupMenuIntensite"));
    if (!menu)
        return false;
    const QKeySequence pressed(key);
    const QList<QAction *> items = menu->actions();
    for (int i = 1; i < items.size(); ++i) {
        QAction *item = items[i];
        if (!item->isSeparator() && item->isEnabled() && !item->shortcut().isEmpty() && item->shortcut() == pressed) {
            item->trigger();
            return true;
        }
    }
    return false;
}

bool TFormViewer::PresetShortcutEvent(QObject *receiver, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(receiver);
    // Keys typed in this window (or a window it owns, such as a child window); a
    // dialog of its own (modal) keeps its keys.
    if (!widget || widget->window() != this || QApplication::activeModalWidget())
        return false;
    return PresetShortcut(static_cast<QKeyEvent *>(event)->keyCombination());
}

void TFormViewer::Personnaliser1Click()
{
    TFrameDicomViewer *frame = currentFrame_;
    if (!frame || !ActiveChild())
        return;
    const auto image = frame->DicomViewer()->Images()->Item(frame->CurrentImageIndex);
    if (!image)
        return;
    TFormIntensite dialog(this);
    dialog.Image = image;
    if (RunIntensite)
        RunIntensite(dialog);
    else
        dialog.ShowModal();
    // Also after "Annuler": the series gets the window of the image again.
    frame->ApplyToSeries(1);
}
