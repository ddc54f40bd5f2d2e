#pragma once

#include <QHash>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <shared_mutex>

namespace qm::host {

class Class;
class Object;
class Runtime;
using ObjectPtr = std::shared_ptr<Object>;

// What an operation receives: the class it was looked up on, the receiving object (null for class
// operations) and its arguments.
struct Invocation {
    const Class& receiverClass;
    Object* self;
    const QVariantList& arguments;

    QVariant argument(qsizetype index) const { return arguments.value(index); }
};

// The code of one operation. Results and arguments travel as QVariant: strings, numbers, booleans,
// lists, host objects (ObjectPtr) and DOM values.
using Implementation = std::function<QVariant(const Invocation&)>;

// A named host class with class and instance operations keyed by selector ("send:", "backEnd").
// Operations can be added but never replaced, and two operations can exchange their code, which is how
// a plug-in puts its own code in front of the host's and still reaches the host's through its own name.
class Class {
public:
    const QString& name() const { return name_; }
    Class* superclass() const;
    void setSuperclass(Class* superclass);
    bool isSubclassOf(const Class& other) const;

    // Adds an operation to this class; false (and no change) when this class already has one of that name.
    // An operation inherited from a superclass is overridden, not replaced.
    bool addInstanceMethod(const QString& selector, Implementation implementation);
    bool addClassMethod(const QString& selector, Implementation implementation);

    // Copies every class operation, then every instance operation, of `source` that this class lacks.
    void addMethodsFrom(const Class& source);

    // Exchanges the code behind two selectors, each looked up as a call would look it up (this class,
    // then its superclasses). False when either is missing.
    bool exchangeInstanceMethods(const QString& first, const QString& second);
    bool exchangeClassMethods(const QString& first, const QString& second);

    bool instancesRespondTo(const QString& selector) const;
    bool respondsToClassMethod(const QString& selector) const;

    // Calls a class operation; an invalid QVariant when the class does not answer it.
    QVariant invokeClassMethod(const QString& selector, const QVariantList& arguments = {}) const;

    QStringList instanceMethodNames() const; // this class only, sorted
    QStringList classMethodNames() const;

private:
    friend class Runtime;
    friend class Object;
    using MethodTable = QHash<QString, std::shared_ptr<Implementation>>;

    Class(Runtime& runtime, QString name, Class* superclass);
    std::shared_ptr<Implementation> lookup(MethodTable Class::*table, const QString& selector) const;
    bool add(MethodTable Class::*table, const QString& selector, Implementation implementation);
    bool exchange(MethodTable Class::*table, const QString& first, const QString& second);

    Runtime& runtime_;
    QString name_;
    Class* superclass_;
    MethodTable instanceMethods_;
    MethodTable classMethods_;
};

// An instance of a host class. Hosts derive their objects from it and keep their state there.
class Object : public std::enable_shared_from_this<Object> {
public:
    explicit Object(Class& objectClass)
        : class_(&objectClass) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Class& objectClass() const { return *class_; }
    bool respondsTo(const QString& selector) const { return class_->instancesRespondTo(selector); }

    // Calls an instance operation; an invalid QVariant when the object does not answer it.
    QVariant invoke(const QString& selector, const QVariantList& arguments = {});

private:
    Class* class_;
};

// The classes of one host process.
class Runtime {
public:
    Runtime();
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    // Registers a new class; nullptr when the name is taken.
    Class* addClass(const QString& name, Class* superclass = nullptr);
    // The class of that name, or nullptr. Safe from any thread.
    Class* classNamed(const QString& name) const;

private:
    friend class Class;
    mutable std::shared_mutex mutex_;
    QHash<QString, std::shared_ptr<Class>> classes_;
};

inline QVariant toVariant(const ObjectPtr& object) {
    return object ? QVariant::fromValue(object) : QVariant();
}
inline ObjectPtr toObject(const QVariant& value) {
    return value.canConvert<ObjectPtr>() ? value.value<ObjectPtr>() : ObjectPtr();
}

} // namespace qm::host

Q_DECLARE_METATYPE(qm::host::ObjectPtr)
