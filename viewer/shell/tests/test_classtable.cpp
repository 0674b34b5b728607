#include "viewer/shell/classtable.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

namespace {

// A minimal component for the table's own rules: every class of the list
// except "DicomPrint", whose factory makes nothing.
class Object : public imaging::ComponentObject
{
public:
    explicit Object(const char *name) : name_(name) {}
    const char *ClassName() const override { return name_; }

private:
    const char *name_;
};

class Factory : public imaging::ClassFactory
{
public:
    explicit Factory(const char *name) : name_(name) {}
    imaging::ComponentObject *CreateInstance(QWidget *) override
    {
        ++created;
        return std::string(name_) == "DicomPrint" ? nullptr : new Object(name_);
    }
    int created = 0;

private:
    const char *name_;
};

Factory *FactoryFor(const char *name)
{
    static std::map<std::string, std::unique_ptr<Factory>> factories;
    auto &slot = factories[name];
    if (!slot)
        slot = std::make_unique<Factory>(name);
    return slot.get();
}

int Entry(const char *className, imaging::ClassFactory **factory)
{
    for (const char *known : imaging::kComponentClasses) {
        if (std::string(known) == className) {
            *factory = FactoryFor(known);
            return 0;
        }
    }
    *factory = nullptr;
    return -1;
}

QString Raised(const std::function<void()> &action)
{
    try {
        action();
    } catch (const TComponentError &error) {
        return error.Message();
    }
    return QString();
}

} // namespace

TEST(ClassTable, RegistersInOrderOnceAndCreatesThroughTheFactories)
{
    TClassTable table;
    for (const char *name : imaging::kComponentClasses)
        table.RegisterClass(&Entry, name);
    table.RegisterClass(&Entry, "DicomImage"); // again: no second entry
    QStringList expected;
    for (const char *name : imaging::kComponentClasses)
        expected.append(name);
    EXPECT_EQ(table.ClassNames(), expected);

    auto object = table.Create("DicomLabels");
    ASSERT_TRUE(object);
    EXPECT_STREQ(object->ClassName(), "DicomLabels");
    EXPECT_EQ(FactoryFor("DicomLabels")->created, 1);
}

TEST(ClassTable, FailuresRaiseTheirMessages)
{
    TClassTable table;
    EXPECT_EQ(Raised([&] { table.RegisterClass(static_cast<void *>(nullptr), "DicomImage"); }),
              "Nil handle passed to RegisterDllClass!");
    // The program itself is a library without the component's entry point.
    void *self = ::dlopen(nullptr, RTLD_NOW);
    EXPECT_EQ(Raised([&] { table.RegisterClass(self, "DicomImage"); }),
              "KorvaneGetClassObject is undefined in DLL");
    EXPECT_TRUE(table.IsEmpty());
    EXPECT_EQ(Raised([&] { table.RegisterClass(&Entry, "DicomNothing"); }),
              "Classe non disponible dans le composant: DicomNothing");

    table.RegisterClass(&Entry, "DicomPrint");
    EXPECT_FALSE(Raised([&] { table.Create("DicomPrint"); }).isEmpty());
    EXPECT_EQ(Raised([&] { table.Create("DicomImage"); }), "Classe non enregistrée: DicomImage");
    table.Clear();
    EXPECT_TRUE(table.ClassNames().isEmpty());
}
