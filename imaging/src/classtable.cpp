// The component's class factories, one per class name the viewer registers.

#include "internal.h"

#include <cstring>

namespace imaging::detail {

namespace {

// Classes the viewer registers but never uses (network, printing, logging): plain
// objects that only tell their class.
class MinimalObject final : public ComponentObject
{
public:
    explicit MinimalObject(const char *name) : name_(name) {}
    const char *ClassName() const override { return name_; }

private:
    const char *name_;
};

class FunctionFactory final : public ClassFactory
{
public:
    using Fn = ComponentObject *(*)(QWidget *);
    FunctionFactory(const char *name, Fn fn) : name(name), fn_(fn) {}
    ComponentObject *CreateInstance(QWidget *parent) override
    {
        try {
            return fn_(parent);
        } catch (...) {
            return nullptr; // nothing may escape across the module boundary
        }
    }
    const char *name;

private:
    Fn fn_;
};

template<const char *const *Name>
ComponentObject *Minimal(QWidget *)
{
    return new MinimalObject(*Name);
}

const char *const kConnection = "DicomConnection";
const char *const kConnections = "DicomConnections";
const char *const kLogLight = "DicomLogLight";
const char *const kPrint = "DicomPrint";
const char *const kQuery = "DicomQuery";
const char *const kServer = "DicomServer";

std::vector<FunctionFactory> &Factories()
{
    static std::vector<FunctionFactory> table{
        {"DicomConnection", &Minimal<&kConnection>},
        {"DicomConnections", &Minimal<&kConnections>},
        {"DicomDataSet", [](QWidget *) { return NewDataSetObject(); }},
        {"DicomDataSets", [](QWidget *) { return NewDataSetsObject(); }},
        {"DicomGlobal", [](QWidget *) { return NewGlobalObject(); }},
        {"DicomImage", [](QWidget *) { return NewImageObject(); }},
        {"DicomImages", [](QWidget *) { return NewImagesObject(); }},
        {"DicomLabel", [](QWidget *) { return NewLabelObject(); }},
        {"DicomLabels", [](QWidget *) { return NewLabelsObject(); }},
        {"DicomLogLight", &Minimal<&kLogLight>},
        {"DicomPrint", &Minimal<&kPrint>},
        {"DicomQuery", &Minimal<&kQuery>},
        {"DicomServer", &Minimal<&kServer>},
        {"DicomViewerLight", [](QWidget *parent) { return CreateViewerLightObject(parent); }},
    };
    return table;
}

} // namespace

} // namespace imaging::detail

namespace imaging {

int GetClassObject(const char *className, ClassFactory **factory)
{
    if (factory)
        *factory = nullptr;
    if (!className || !factory)
        return -1;
    for (auto &f : detail::Factories()) {
        if (std::strcmp(f.name, className) == 0) {
            *factory = &f;
            return 0;
        }
    }
    return -1;
}

} // namespace imaging
