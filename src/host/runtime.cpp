#include "host/runtime.h"

#include <algorithm>
#include <mutex>

namespace qm::host {

Class::Class(Runtime& runtime, QString name, Class* superclass)
    : runtime_(runtime)
    , name_(std::move(name))
    , superclass_(superclass) {}

Class* Class::superclass() const {
    std::shared_lock lock(runtime_.mutex_);
    return superclass_;
}

void Class::setSuperclass(Class* superclass) {
    std::unique_lock lock(runtime_.mutex_);
    superclass_ = superclass;
}

bool Class::isSubclassOf(const Class& other) const {
    std::shared_lock lock(runtime_.mutex_);
    for (const Class* c = this; c; c = c->superclass_)
        if (c == &other)
            return true;
    return false;
}

std::shared_ptr<Implementation> Class::lookup(MethodTable Class::*table, const QString& selector) const {
    std::shared_lock lock(runtime_.mutex_);
    for (const Class* c = this; c; c = c->superclass_) {
        auto found = (c->*table).constFind(selector);
        if (found != (c->*table).constEnd())
            return *found;
    }
    return nullptr;
}

bool Class::add(MethodTable Class::*table, const QString& selector, Implementation implementation) {
    std::unique_lock lock(runtime_.mutex_);
    if ((this->*table).contains(selector) || !implementation)
        return false;
    (this->*table).insert(selector, std::make_shared<Implementation>(std::move(implementation)));
    return true;
}

bool Class::addInstanceMethod(const QString& selector, Implementation implementation) {
    return add(&Class::instanceMethods_, selector, std::move(implementation));
}

bool Class::addClassMethod(const QString& selector, Implementation implementation) {
    return add(&Class::classMethods_, selector, std::move(implementation));
}

void Class::addMethodsFrom(const Class& source) {
    MethodTable classMethods, instanceMethods;
    {
        std::shared_lock lock(runtime_.mutex_);
        classMethods = source.classMethods_;
        instanceMethods = source.instanceMethods_;
    }
    // Each copy gets its own slot so that a later exchange on this class leaves the source untouched.
    for (auto it = classMethods.cbegin(); it != classMethods.cend(); ++it)
        addClassMethod(it.key(), **it);
    for (auto it = instanceMethods.cbegin(); it != instanceMethods.cend(); ++it)
        addInstanceMethod(it.key(), **it);
}

bool Class::exchange(MethodTable Class::*table, const QString& first, const QString& second) {
    std::unique_lock lock(runtime_.mutex_);
    auto slot = [&](const QString& selector) -> std::shared_ptr<Implementation>* {
        for (Class* c = this; c; c = c->superclass_) {
            auto found = (c->*table).find(selector);
            if (found != (c->*table).end())
                return &*found;
        }
        return nullptr;
    };
    std::shared_ptr<Implementation>* a = slot(first);
    std::shared_ptr<Implementation>* b = slot(second);
    if (!a || !b)
        return false;
    // Swap the code, not the slots: a slot may be shared with nobody else, but its name must stay put.
    std::swap(**a, **b);
    return true;
}

bool Class::exchangeInstanceMethods(const QString& first, const QString& second) {
    return exchange(&Class::instanceMethods_, first, second);
}

bool Class::exchangeClassMethods(const QString& first, const QString& second) {
    return exchange(&Class::classMethods_, first, second);
}

bool Class::instancesRespondTo(const QString& selector) const {
    return lookup(&Class::instanceMethods_, selector) != nullptr;
}

bool Class::respondsToClassMethod(const QString& selector) const {
    return lookup(&Class::classMethods_, selector) != nullptr;
}

QVariant Class::invokeClassMethod(const QString& selector, const QVariantList& arguments) const {
    std::shared_ptr<Implementation> implementation = lookup(&Class::classMethods_, selector);
    if (!implementation)
        return {};
    // Copied so that an exchange made while the operation runs cannot pull its code away.
    const Implementation code = *implementation;
    return code(Invocation{*this, nullptr, arguments});
}

QStringList Class::instanceMethodNames() const {
    std::shared_lock lock(runtime_.mutex_);
    QStringList names = instanceMethods_.keys();
    names.sort();
    return names;
}

QStringList Class::classMethodNames() const {
    std::shared_lock lock(runtime_.mutex_);
    QStringList names = classMethods_.keys();
    names.sort();
    return names;
}

QVariant Object::invoke(const QString& selector, const QVariantList& arguments) {
    std::shared_ptr<Implementation> implementation = class_->lookup(&Class::instanceMethods_, selector);
    if (!implementation)
        return {};
    const Implementation code = *implementation;
    return code(Invocation{*class_, this, arguments});
}

Runtime::Runtime() = default;
Runtime::~Runtime() = default;

Class* Runtime::addClass(const QString& name, Class* superclass) {
    std::unique_lock lock(mutex_);
    if (name.isEmpty() || classes_.contains(name))
        return nullptr;
    auto created = std::shared_ptr<Class>(new Class(*this, name, superclass));
    classes_.insert(name, created);
    return created.get();
}

Class* Runtime::classNamed(const QString& name) const {
    std::shared_lock lock(mutex_);
    auto found = classes_.constFind(name);
    return found == classes_.constEnd() ? nullptr : found->get();
}

} // namespace qm::host
