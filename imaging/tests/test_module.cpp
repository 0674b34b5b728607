// The component as a loadable module: one exported entry point, a factory per class.

#include "testutil.h"

#include <QLibrary>

using namespace imaging;
using namespace testutil;

TEST(Module, EntryPointHandsOutAFactoryPerClass)
{
    QLibrary lib(QStringLiteral(KORVANE_IMAGING_MODULE));
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    auto entry = reinterpret_cast<KorvaneGetClassObjectFn>(lib.resolve(KORVANE_IMAGING_ENTRY_POINT));
    ASSERT_TRUE(entry);
    for (const char *name : kComponentClasses) {
        SCOPED_TRACE(name);
        ClassFactory *factory = nullptr;
        ASSERT_EQ(entry(name, &factory), 0);
        ASSERT_TRUE(factory);
        if (std::string(name) == "DicomViewerLight")
            continue; // a widget: created by the control's own tests
        std::unique_ptr<ComponentObject> obj(factory->CreateInstance());
        ASSERT_TRUE(obj);
        EXPECT_STREQ(obj->ClassName(), name);
    }
    ClassFactory *none = reinterpret_cast<ClassFactory *>(1);
    EXPECT_EQ(entry("DicomNothing", &none), -1);
    EXPECT_EQ(none, nullptr);

    // Objects made by the module work through the abstract classes.
    ClassFactory *imagesFactory = nullptr;
    ASSERT_EQ(entry("DicomImages", &imagesFactory), 0);
    std::shared_ptr<DicomImages> images(component_cast<DicomImages>(imagesFactory->CreateInstance()));
    ASSERT_TRUE(images);
    const QJsonObject m = FindImage(DemoVisit(), [](const QJsonObject &) { return true; });
    auto img = images->ReadFile(DemoVisit() + "/" + m["file"].toString());
    EXPECT_EQ(img->InstanceUID(), m["instanceUID"].toString());
    EXPECT_EQ(images->Count(), 1);
    try {
        images->ReadFile(DemoVisit() + "/absent");
        ADD_FAILURE();
    } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find("absent"), std::string::npos);
    }
    ClassFactory *labelFactory = nullptr;
    ASSERT_EQ(entry("DicomLabel", &labelFactory), 0);
    std::unique_ptr<ComponentObject> label(labelFactory->CreateInstance());
    EXPECT_EQ(component_cast<DicomImages>(label.get()), nullptr);
    ASSERT_TRUE(component_cast<DicomLabel>(label.get()));
    images.reset();
    img.reset();
    label.reset();
    // The static library answers the same names.
    ClassFactory *f = nullptr;
    EXPECT_EQ(GetClassObject("DicomGlobal", &f), 0);
    EXPECT_TRUE(f);
}
