#include "host/runtime.h"

#include <gtest/gtest.h>

namespace qm::host {
namespace {

Implementation answering(const QString& text) {
    return [text](const Invocation&) { return QVariant(text); };
}

class RuntimeTest : public ::testing::Test {
protected:
    Runtime runtime;
    Class* root = runtime.addClass(QStringLiteral("NSObject"));
    Class* hostClass = runtime.addClass(QStringLiteral("DocumentEditor"), root);
};

TEST_F(RuntimeTest, ClassesObjectsAndMissingOperations) {
    EXPECT_EQ(runtime.classNamed(QStringLiteral("DocumentEditor")), hostClass);
    EXPECT_EQ(runtime.addClass(QStringLiteral("DocumentEditor")), nullptr);
    EXPECT_EQ(runtime.classNamed(QStringLiteral("MailDocumentEditor")), nullptr);
    EXPECT_TRUE(hostClass->isSubclassOf(*root));
    EXPECT_FALSE(root->isSubclassOf(*hostClass));

    auto editor = std::make_shared<Object>(*hostClass);
    EXPECT_EQ(toObject(toVariant(editor)), editor);
    EXPECT_EQ(toObject(QVariant(QStringLiteral("not an object"))), nullptr);
    EXPECT_FALSE(toVariant(nullptr).isValid());

    // Missing operations answer nothing.
    EXPECT_FALSE(editor->respondsTo(QStringLiteral("backEnd")));
    EXPECT_FALSE(editor->invoke(QStringLiteral("backEnd")).isValid());
    EXPECT_FALSE(hostClass->invokeClassMethod(QStringLiteral("sharedPreferences")).isValid());
    EXPECT_FALSE(
        hostClass->exchangeInstanceMethods(QStringLiteral("send:"), QStringLiteral("quillmoorSend:")));
}

TEST_F(RuntimeTest, AddingNeverReplacesButMayOverrideAnInheritedOperation) {
    ASSERT_TRUE(root->addInstanceMethod(QStringLiteral("description"), answering(QStringLiteral("root"))));
    ASSERT_TRUE(
        hostClass->addInstanceMethod(QStringLiteral("send:"), answering(QStringLiteral("host send"))));

    EXPECT_FALSE(hostClass->addInstanceMethod(QStringLiteral("send:"), answering(QStringLiteral("other"))));
    EXPECT_TRUE(
        hostClass->addInstanceMethod(QStringLiteral("description"), answering(QStringLiteral("editor"))));

    auto editor = std::make_shared<Object>(*hostClass);
    auto plain = std::make_shared<Object>(*root);
    EXPECT_EQ(editor->invoke(QStringLiteral("send:")).toString(), QStringLiteral("host send"));
    EXPECT_EQ(editor->invoke(QStringLiteral("description")).toString(), QStringLiteral("editor"));
    EXPECT_EQ(plain->invoke(QStringLiteral("description")).toString(), QStringLiteral("root"));
}

TEST_F(RuntimeTest, MergedCategoryThenExchangeRoutesBothWays) {
    hostClass->addInstanceMethod(QStringLiteral("send:"), answering(QStringLiteral("host send")));
    Class* category = runtime.addClass(QStringLiteral("RVQuillmoorDocumentEditor"), root);
    category->addInstanceMethod(QStringLiteral("quillmoorSend:"), [](const Invocation& call) {
        // The plug-in's send ends by calling its own name, which after the exchange is the host's send.
        return QVariant(QStringLiteral("plug-in then ") +
                        call.self->invoke(QStringLiteral("quillmoorSend:")).toString());
    });
    category->addInstanceMethod(QStringLiteral("send:"), answering(QStringLiteral("category's own send")));

    hostClass->addMethodsFrom(*category);
    ASSERT_TRUE(
        hostClass->exchangeInstanceMethods(QStringLiteral("send:"), QStringLiteral("quillmoorSend:")));

    auto editor = std::make_shared<Object>(*hostClass);
    EXPECT_EQ(editor->invoke(QStringLiteral("send:")).toString(), QStringLiteral("plug-in then host send"));
    EXPECT_EQ(editor->invoke(QStringLiteral("quillmoorSend:")).toString(), QStringLiteral("host send"));

    // The category class itself is untouched by the exchange made on the host's class.
    auto categoryObject = std::make_shared<Object>(*category);
    EXPECT_EQ(categoryObject->invoke(QStringLiteral("send:")).toString(),
              QStringLiteral("category's own send"));
}

TEST_F(RuntimeTest, ClassOperationsMergeAndExchangeSeparately) {
    Class* preferences = runtime.addClass(QStringLiteral("NSPreferences"), root);
    preferences->addClassMethod(QStringLiteral("sharedPreferences"), answering(QStringLiteral("host")));
    Class* category = runtime.addClass(QStringLiteral("RVQuillmoorPreferences"), root);
    category->addClassMethod(QStringLiteral("quillmoorSharedPreferences"), [preferences](
                                                                               const Invocation& call) {
        EXPECT_EQ(&call.receiverClass, preferences);
        return QVariant(
            QStringLiteral("pane added, ") +
            call.receiverClass.invokeClassMethod(QStringLiteral("quillmoorSharedPreferences")).toString());
    });

    preferences->addMethodsFrom(*category);
    EXPECT_FALSE(preferences->instancesRespondTo(QStringLiteral("quillmoorSharedPreferences")));
    ASSERT_TRUE(preferences->exchangeClassMethods(QStringLiteral("sharedPreferences"),
                                                  QStringLiteral("quillmoorSharedPreferences")));
    EXPECT_EQ(preferences->invokeClassMethod(QStringLiteral("sharedPreferences")).toString(),
              QStringLiteral("pane added, host"));
    EXPECT_EQ(preferences->classMethodNames(), (QStringList{QStringLiteral("quillmoorSharedPreferences"),
                                                            QStringLiteral("sharedPreferences")}));
}

TEST_F(RuntimeTest, OperationsAreFoundThroughSuperclassesSetLaterOrInherited) {
    Class* mailBundle = runtime.addClass(QStringLiteral("MVMailBundle"), root);
    mailBundle->addClassMethod(QStringLiteral("registerBundle"), answering(QStringLiteral("registered")));
    Class* bundle = runtime.addClass(QStringLiteral("RVQuillmoorBundle"), root);
    EXPECT_FALSE(bundle->respondsToClassMethod(QStringLiteral("registerBundle")));
    bundle->setSuperclass(mailBundle);
    EXPECT_EQ(bundle->invokeClassMethod(QStringLiteral("registerBundle")).toString(),
              QStringLiteral("registered"));

    // An exchange finds inherited operations as a call would.
    root->addInstanceMethod(QStringLiteral("windowWillClose:"), answering(QStringLiteral("inherited close")));
    hostClass->addInstanceMethod(QStringLiteral("quillmoorWindowWillClose:"),
                                 answering(QStringLiteral("plug-in close")));
    ASSERT_TRUE(hostClass->exchangeInstanceMethods(QStringLiteral("windowWillClose:"),
                                                   QStringLiteral("quillmoorWindowWillClose:")));
    auto editor = std::make_shared<Object>(*hostClass);
    EXPECT_EQ(editor->invoke(QStringLiteral("windowWillClose:")).toString(), QStringLiteral("plug-in close"));
    EXPECT_EQ(editor->invoke(QStringLiteral("quillmoorWindowWillClose:")).toString(),
              QStringLiteral("inherited close"));
}

} // namespace
} // namespace qm::host
