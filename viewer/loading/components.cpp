#include "viewer/loading/components.h"

#include "viewer/shell/templatedm.h"

#include <stdexcept>
#include <string>

namespace loading {

std::unique_ptr<imaging::ComponentObject> NewComponentObject(const char *className, QWidget *parent)
{
    if (TTemplateDM *dm = TemplateDMIfAny()) {
        if (!dm->ClassTable().IsEmpty())
            return dm->CreateComponentObject(className, parent);
    }
    imaging::ClassFactory *factory = nullptr;
    if (imaging::GetClassObject(className, &factory) != 0 || !factory)
        throw std::runtime_error(std::string("no factory for ") + className);
    std::unique_ptr<imaging::ComponentObject> object(factory->CreateInstance(parent));
    if (!object)
        throw std::runtime_error(std::string("the factory gave no ") + className);
    return object;
}

imaging::DicomViewerLight *NewViewerControl(QWidget *parent)
{
    std::unique_ptr<imaging::ComponentObject> object = NewComponentObject(imaging::DicomViewerLight::kClassName, parent);
    auto *control = imaging::component_cast<imaging::DicomViewerLight>(object.get());
    if (!control)
        throw std::runtime_error("unexpected component object for DicomViewerLight");
    object.release();
    control->setParent(parent);
    return control;
}

} // namespace loading
