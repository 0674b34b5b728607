#pragma once
// The imaging component as a loadable module.
//
// The viewer carries the module inside its own resources, writes it to its
// temporary folder, loads it and asks it for one class factory per class name.
// Nothing crosses the module boundary but the abstract classes of
// include/imaging/ (no Qt signals; callbacks are std::function).

class QWidget;

namespace imaging {

// Every object the component hands out derives from this.
class ComponentObject
{
public:
    virtual ~ComponentObject() = default;
    // The class name the object was created under ("DicomImage", ...).
    virtual const char *ClassName() const = 0;
};

// One factory per class. CreateInstance returns a new object owned by the
// caller (wrap it at once). `parent` is used by the on-screen control only.
class ClassFactory
{
public:
    virtual ~ClassFactory() = default;
    virtual ComponentObject *CreateInstance(QWidget *parent = nullptr) = 0;
};

// The classes the viewer registers, in registration order.
inline constexpr const char *kComponentClasses[] = {
    "DicomConnection", "DicomConnections", "DicomDataSet", "DicomDataSets", "DicomGlobal",
    "DicomImage",      "DicomImages",      "DicomLabel",   "DicomLabels",   "DicomLogLight",
    "DicomPrint",      "DicomQuery",       "DicomServer",  "DicomViewerLight",
};
inline constexpr int kComponentClassCount = 14;

} // namespace imaging

extern "C" {
// The module's one exported entry point. Returns 0 and sets *factory (owned by
// the module, valid until it is unloaded) for a known class name; returns -1
// and sets *factory to null otherwise.
typedef int (*KorvaneGetClassObjectFn)(const char *className, imaging::ClassFactory **factory);
}

#define KORVANE_IMAGING_ENTRY_POINT "KorvaneGetClassObject"
