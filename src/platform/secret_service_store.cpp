#include "platform/secret_service_store.h"

#include <QByteArray>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <libsecret/secret.h>

// A Secret Service proxy that refuses every prompt. libsecret otherwise asks the user to unlock a collection,
// confirm a deletion or create a default keyring; the store must never ask and answers "unreachable" instead.
struct QmQuietService {
    SecretService parent;
};
struct QmQuietServiceClass {
    SecretServiceClass parent_class;
};

G_DEFINE_TYPE(QmQuietService, qm_quiet_service, SECRET_TYPE_SERVICE)

namespace {

constexpr const char* promptRefused = "Quillmoor does not show keyring prompts";

// The service keeps a prompt object around until it is completed or dismissed; nobody waits for the answer.
void dismissPrompt(SecretPrompt* prompt) {
    if (prompt)
        g_dbus_proxy_call(G_DBUS_PROXY(prompt), "Dismiss", nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000,
                          nullptr, nullptr, nullptr);
}

GVariant* refusePromptSync(SecretService*, SecretPrompt* prompt, GCancellable*, const GVariantType*,
                           GError** error) {
    dismissPrompt(prompt);
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, promptRefused);
    return nullptr;
}

void refusePromptAsync(SecretService* self, SecretPrompt* prompt, const GVariantType*,
                       GCancellable* cancellable, GAsyncReadyCallback callback, gpointer userData) {
    dismissPrompt(prompt);
    GTask* task = g_task_new(self, cancellable, callback, userData);
    g_task_return_new_error(task, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, "%s", promptRefused);
    g_object_unref(task);
}

GVariant* refusePromptFinish(SecretService*, GAsyncResult* result, GError** error) {
    return static_cast<GVariant*>(g_task_propagate_pointer(G_TASK(result), error));
}

} // namespace

static void qm_quiet_service_init(QmQuietService*) {}

// libsecret points every service proxy at the process-wide session bus; this one keeps the connection it is
// constructed with.
static GObject* qm_quiet_service_constructor(GType type, guint count, GObjectConstructParam* properties) {
    GObject* object = G_OBJECT_CLASS(qm_quiet_service_parent_class)->constructor(type, count, properties);
    g_object_set(object, "g-bus-type", G_BUS_TYPE_NONE, nullptr);
    return object;
}

static void qm_quiet_service_class_init(QmQuietServiceClass* klass) {
    G_OBJECT_CLASS(klass)->constructor = qm_quiet_service_constructor;
    klass->parent_class.prompt_sync = refusePromptSync;
    klass->parent_class.prompt_async = refusePromptAsync;
    klass->parent_class.prompt_finish = refusePromptFinish;
}

namespace qm::platform {

namespace {

// The attribute names are those other clients (secret-tool, keyring managers) search by; the schema name is
// not matched, so items written under another schema with the same attributes are the same items.
const SecretSchema passwordSchema = {
    "org.quillmoor.Password",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() { g_clear_error(&error); }
};

// Attributes in the form libsecret takes; the texts stay alive as long as the table.
class Attributes {
public:
    Attributes(const QString& service, const QString& account)
        : service_(service.toUtf8())
        , account_(account.toUtf8())
        , table_(g_hash_table_new(g_str_hash, g_str_equal)) {
        g_hash_table_insert(table_, const_cast<char*>("service"), service_.data());
        g_hash_table_insert(table_, const_cast<char*>("account"), account_.data());
    }
    ~Attributes() { g_hash_table_unref(table_); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    GHashTable* table() const { return table_; }

private:
    QByteArray service_;
    QByteArray account_;
    GHashTable* table_;
};

// Locked items match as well: they exist, even though reading or changing them is refused.
bool anyItem(SecretService* service, const Attributes& attributes, GCancellable* cancellable) {
    ErrorHolder e;
    GList* items = secret_service_search_sync(service, &passwordSchema, attributes.table(),
                                              SECRET_SEARCH_NONE, cancellable, &e.error);
    const bool found = items != nullptr;
    g_list_free_full(items, g_object_unref);
    return found;
}

// Every match that can be changed without an unlock, which would be a prompt.
std::vector<SecretItem*> unlockedItems(SecretService* service, const Attributes& attributes,
                                       GCancellable* cancellable) {
    ErrorHolder e;
    GList* items = secret_service_search_sync(service, &passwordSchema, attributes.table(), SECRET_SEARCH_ALL,
                                              cancellable, &e.error);
    std::vector<SecretItem*> unlocked;
    for (GList* i = items; i; i = i->next) {
        if (secret_item_get_locked(SECRET_ITEM(i->data)))
            g_object_unref(i->data);
        else
            unlocked.push_back(SECRET_ITEM(i->data));
    }
    g_list_free(items);
    return unlocked;
}

void release(std::vector<SecretItem*>& items) {
    for (SecretItem* item : items)
        g_object_unref(item);
    items.clear();
}

SecretValue* newValue(const QByteArray& secret) {
    return secret_value_new(secret.constData(), secret.size(), "text/plain");
}

} // namespace

// Owns the thread that talks to the bus. libsecret's blocking calls run there, one at a time, each under a
// cancellable that the waiting caller cancels when its time is up. The thread runs a main loop of its own so
// that the signals the bus proxies subscribe to are delivered there and not on the application's main loop.
struct detail::SecretServiceWorker {
    struct Job {
        std::string address;
        std::function<void(SecretService*, GCancellable*)> body;
        GCancellable* cancellable = g_cancellable_new();
        std::mutex mutex;
        std::condition_variable finishedChanged;
        bool finished = false;
        ~Job() { g_object_unref(cancellable); }
    };

    explicit SecretServiceWorker(int callTimeoutMs)
        : callTimeoutMs(callTimeoutMs) {
        context = g_main_context_new();
        loop = g_main_loop_new(context, FALSE);
    }

    ~SecretServiceWorker() {
        g_main_loop_unref(loop);
        g_main_context_unref(context);
    }

    static void run(const std::shared_ptr<detail::SecretServiceWorker>& self) {
        g_main_context_push_thread_default(self->context);
        g_main_loop_run(self->loop);
        self->disconnect();
        g_main_context_pop_thread_default(self->context);
        std::lock_guard lock(self->exitMutex);
        self->exited = true;
        self->exitChanged.notify_all();
    }

    void post(std::shared_ptr<Job> job) {
        struct Call {
            SecretServiceWorker* worker;
            std::shared_ptr<Job> job;
        };
        g_main_context_invoke_full(
            context, G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                auto* call = static_cast<Call*>(data);
                call->worker->execute(*call->job);
                return G_SOURCE_REMOVE;
            },
            new Call{this, std::move(job)}, [](gpointer data) { delete static_cast<Call*>(data); });
    }

    void quit() {
        g_main_context_invoke_full(
            context, G_PRIORITY_LOW,
            [](gpointer data) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(data));
                return G_SOURCE_REMOVE;
            },
            g_main_loop_ref(loop), reinterpret_cast<GDestroyNotify>(g_main_loop_unref));
    }

    void execute(Job& job) {
        if (!g_cancellable_is_cancelled(job.cancellable)) {
            if (SecretService* service = serviceAt(job.address, job.cancellable))
                job.body(service, job.cancellable);
        }
        {
            std::lock_guard lock(job.mutex);
            job.finished = true;
        }
        job.finishedChanged.notify_all();
    }

    // A connection of our own rather than the process-wide session bus: that one would keep the address it
    // first saw and, when the bus goes away, would end the whole process.
    SecretService* serviceAt(const std::string& address, GCancellable* cancellable) {
        if (service && (address != connectedAddress || g_dbus_connection_is_closed(connection)))
            disconnect();
        if (service)
            return service;
        ErrorHolder e;
        connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable, &e.error);
        if (!connection)
            return nullptr;
        // Bus name, object path and interface are the ones libsecret's own constructor sets.
        service = static_cast<SecretService*>(g_initable_new(qm_quiet_service_get_type(), cancellable,
                                                             &e.error, "g-connection", connection, "flags",
                                                             SECRET_SERVICE_NONE, nullptr));
        if (!service) {
            disconnect();
            return nullptr;
        }
        g_dbus_proxy_set_default_timeout(G_DBUS_PROXY(service), callTimeoutMs);
        connectedAddress = address;
        return service;
    }

    void disconnect() {
        g_clear_object(&service);
        if (connection) {
            g_dbus_connection_close(connection, nullptr, nullptr, nullptr);
            g_clear_object(&connection);
        }
        connectedAddress.clear();
    }

    const int callTimeoutMs;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;

    std::mutex exitMutex;
    std::condition_variable exitChanged;
    bool exited = false;

    // Touched on the worker thread only.
    std::string connectedAddress;
    GDBusConnection* connection = nullptr;
    SecretService* service = nullptr;
};

namespace {

// Runs `body` on the worker and waits for it at most `timeout`; `fallback` is the answer to every failure.
template <typename T>
T runOnWorker(const std::shared_ptr<detail::SecretServiceWorker>& worker, std::chrono::milliseconds timeout,
              T fallback, std::function<T(SecretService*, GCancellable*)> body) {
    // Read on the caller's thread: the environment is not safe to read while another thread may change it.
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty())
        return fallback;
    auto job = std::make_shared<detail::SecretServiceWorker::Job>();
    auto result = std::make_shared<T>(fallback);
    job->address = address.toStdString();
    job->body = [result, body = std::move(body)](SecretService* service, GCancellable* cancellable) {
        *result = body(service, cancellable);
    };
    worker->post(job);
    std::unique_lock lock(job->mutex);
    if (!job->finishedChanged.wait_for(lock, timeout, [&] { return job->finished; })) {
        lock.unlock();
        g_cancellable_cancel(job->cancellable);
        return fallback;
    }
    return *result;
}

} // namespace

SecretServiceStore::SecretServiceStore(std::chrono::milliseconds timeout)
    : worker_(std::make_shared<detail::SecretServiceWorker>(int(timeout.count())))
    , timeout_(timeout) {
    worker_->thread = std::thread(&detail::SecretServiceWorker::run, worker_);
}

SecretServiceStore::~SecretServiceStore() {
    // Calls abandoned after their time are cancelled already and end soon; should one not, the thread is left
    // to finish on its own (it shares the worker) rather than holding up the owner.
    worker_->quit();
    std::unique_lock lock(worker_->exitMutex);
    const bool exited = worker_->exitChanged.wait_for(lock, timeout_, [&] { return worker_->exited; });
    lock.unlock();
    if (exited)
        worker_->thread.join();
    else
        worker_->thread.detach();
}

QString SecretServiceStore::itemLabel(const QString& service, const QString& account) {
    return QStringLiteral("Quillmoor: %1 (%2)").arg(service, account);
}

bool SecretServiceStore::contains(const QString& service, const QString& account) {
    return runOnWorker<bool>(worker_, timeout_, false,
                             [=](SecretService* secrets, GCancellable* cancellable) {
                                 return anyItem(secrets, Attributes(service, account), cancellable);
                             });
}

std::optional<QByteArray> SecretServiceStore::find(const QString& service, const QString& account) {
    using Result = std::optional<QByteArray>;
    return runOnWorker<Result>(
        worker_, timeout_, std::nullopt, [=](SecretService* secrets, GCancellable* cancellable) -> Result {
            ErrorHolder e;
            SecretValue* value = secret_service_lookup_sync(
                secrets, &passwordSchema, Attributes(service, account).table(), cancellable, &e.error);
            if (!value)
                return std::nullopt;
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            QByteArray secret(bytes, qsizetype(length));
            secret_value_unref(value);
            return secret;
        });
}

bool SecretServiceStore::add(const QString& service, const QString& account, const QByteArray& secret) {
    const QByteArray label = itemLabel(service, account).toUtf8();
    return runOnWorker<bool>(
        worker_, timeout_, false, [=](SecretService* secrets, GCancellable* cancellable) {
            const Attributes attributes(service, account);
            if (anyItem(secrets, attributes, cancellable) || g_cancellable_is_cancelled(cancellable))
                return false;
            SecretValue* value = newValue(secret);
            ErrorHolder e;
            // The default collection, as other clients use it; creating one when there is none would prompt.
            const bool stored =
                secret_service_store_sync(secrets, &passwordSchema, attributes.table(), nullptr,
                                          label.constData(), value, cancellable, &e.error);
            secret_value_unref(value);
            return stored;
        });
}

bool SecretServiceStore::replace(const QString& service, const QString& account, const QByteArray& secret) {
    return runOnWorker<bool>(
        worker_, timeout_, false, [=](SecretService* secrets, GCancellable* cancellable) {
            std::vector<SecretItem*> items =
                unlockedItems(secrets, Attributes(service, account), cancellable);
            if (items.empty())
                return false;
            SecretValue* value = newValue(secret);
            bool replaced = true;
            // Every match gets the new data, so whichever a later look-up meets answers the same.
            for (SecretItem* item : items) {
                ErrorHolder e;
                replaced = secret_item_set_secret_sync(item, value, cancellable, &e.error) && replaced;
            }
            secret_value_unref(value);
            release(items);
            return replaced;
        });
}

bool SecretServiceStore::remove(const QString& service, const QString& account) {
    return runOnWorker<bool>(
        worker_, timeout_, false, [=](SecretService* secrets, GCancellable* cancellable) {
            std::vector<SecretItem*> items =
                unlockedItems(secrets, Attributes(service, account), cancellable);
            bool removed = false;
            for (SecretItem* item : items) {
                ErrorHolder e;
                removed = secret_item_delete_sync(item, cancellable, &e.error) || removed;
            }
            release(items);
            return removed;
        });
}

} // namespace qm::platform
