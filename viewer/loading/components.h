#pragma once
// Creating imaging component objects from the viewer's code.
//
// Objects come from the data module's class table when the component is registered
// there (the running program), else straight from the component's own factories
// (tests link its code). All objects of one process so come from one implementation.

#include "imaging/imaging.h"
#include "imaging/viewerlight.h"

#include <memory>

class QWidget;

namespace loading {

// A new object of class T (DicomImages, DicomDataSets, ...). Throws std::runtime_error
// when no factory gives one.
std::unique_ptr<imaging::ComponentObject> NewComponentObject(const char *className, QWidget *parent = nullptr);

template<class T>
std::shared_ptr<T> NewComponent()
{
    std::unique_ptr<imaging::ComponentObject> object = NewComponentObject(T::kClassName);
    T *typed = imaging::component_cast<T>(object.get());
    if (!typed)
        throw std::runtime_error(std::string("unexpected component object for ") + T::kClassName);
    object.release();
    return std::shared_ptr<T>(typed);
}

inline imaging::DicomImagesPtr NewImages() { return NewComponent<imaging::DicomImages>(); }
inline imaging::DicomDataSetsPtr NewDataSets() { return NewComponent<imaging::DicomDataSets>(); }

// A new on-screen control owned by `parent`.
imaging::DicomViewerLight *NewViewerControl(QWidget *parent);

} // namespace loading
