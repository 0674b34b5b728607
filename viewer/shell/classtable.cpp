#include "viewer/shell/classtable.h"

#include <dlfcn.h>

TClassTable::Registration &TClassTable::FindOrAdd(const void *key, KorvaneGetClassObjectFn entryPoint)
{
    for (Registration &registration : registrations_)
        if (registration.key == key)
            return registration;
    registrations_.push_back(Registration{key, entryPoint, {}});
    return registrations_.back();
}

void TClassTable::AddEntry(Registration &registration, const char *className)
{
    for (const Entry &entry : registration.entries)
        if (entry.className == className)
            return;
    imaging::ClassFactory *factory = nullptr;
    if (registration.entryPoint(className, &factory) != 0 || !factory)
        throw TComponentError(QStringLiteral("Classe non disponible dans le composant: %1")
                                  .arg(QString::fromUtf8(className)));
    registration.entries.push_back(Entry{className, factory});
}

void TClassTable::RegisterClass(void *handle, const char *className)
{
    if (!handle)
        throw TComponentError(QStringLiteral("Nil handle passed to RegisterDllClass!"));
    for (Registration &registration : registrations_) {
        if (registration.key == handle) {
            AddEntry(registration, className);
            return;
        }
    }
    auto entryPoint =
        reinterpret_cast<KorvaneGetClassObjectFn>(::dlsym(handle, KORVANE_IMAGING_ENTRY_POINT));
    if (!entryPoint)
        throw TComponentError(QStringLiteral(KORVANE_IMAGING_ENTRY_POINT " is undefined in DLL"));
    AddEntry(FindOrAdd(handle, entryPoint), className);
}

void TClassTable::RegisterClass(KorvaneGetClassObjectFn entryPoint, const char *className)
{
    if (!entryPoint)
        throw TComponentError(QStringLiteral("Nil handle passed to RegisterDllClass!"));
    AddEntry(FindOrAdd(reinterpret_cast<const void *>(entryPoint), entryPoint), className);
}

std::unique_ptr<imaging::ComponentObject> TClassTable::Create(const char *className,
                                                              QWidget *parent) const
{
    for (const Registration &registration : registrations_) {
        for (const Entry &entry : registration.entries) {
            if (entry.className != className)
                continue;
            if (imaging::ComponentObject *object = entry.factory->CreateInstance(parent))
                return std::unique_ptr<imaging::ComponentObject>(object);
            throw TComponentError(QStringLiteral("Le composant n'a pas pu créer un objet %1.")
                                      .arg(QString::fromUtf8(className)));
        }
    }
    // There is no system-wide registry to fall back on.
    throw TComponentError(
        QStringLiteral("Classe non enregistrée: %1").arg(QString::fromUtf8(className)));
}

QStringList TClassTable::ClassNames() const
{
    QStringList names;
    for (const Registration &registration : registrations_)
        for (const Entry &entry : registration.entries)
            names.append(QString::fromStdString(entry.className));
    return names;
}
