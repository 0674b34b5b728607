#pragma once

#include "imaging/module.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QWidget;

// Error of the component machinery (a missing entry point, an unknown class).
class TComponentError : public std::runtime_error
{
public:
    explicit TComponentError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromStdString(what()); }
};

// The process's own table of component classes: the imaging component is
// usable without any system-wide registration. The table holds one
// registration per loaded library and, in it, one factory per class, in the
// order they were registered.
class TClassTable
{
public:
    TClassTable() = default;
    TClassTable(const TClassTable &) = delete;
    TClassTable &operator=(const TClassTable &) = delete;
    ~TClassTable() { Clear(); }

    // Registers `className` from the loaded library `handle` (a dlopen handle):
    // finds or creates the library's registration (looking up its entry point),
    // then asks the entry point for the class's factory. Throws TComponentError.
    void RegisterClass(void *handle, const char *className);

    // Registers a class straight from an entry point (tests link the
    // component's code and need no library file).
    void RegisterClass(KorvaneGetClassObjectFn entryPoint, const char *className);

    // Creates an object of `className` with the first registration that holds
    // the class. The caller owns it. Throws TComponentError when no
    // registration holds the class or its factory gives nothing.
    std::unique_ptr<imaging::ComponentObject> Create(const char *className,
                                                     QWidget *parent = nullptr) const;

    // Registered class names in registration order (all libraries).
    QStringList ClassNames() const;
    bool IsEmpty() const { return registrations_.empty(); }

    // Forgets every factory (the libraries own them); done before unloading.
    void Clear() { registrations_.clear(); }

private:
    struct Entry
    {
        std::string className;
        imaging::ClassFactory *factory = nullptr;
    };
    struct Registration
    {
        const void *key = nullptr; // library handle or entry point
        KorvaneGetClassObjectFn entryPoint = nullptr;
        std::vector<Entry> entries;
    };

    Registration &FindOrAdd(const void *key, KorvaneGetClassObjectFn entryPoint);
    static void AddEntry(Registration &registration, const char *className);

    std::vector<Registration> registrations_;
};
