// Task Scheduler 2.0 through its COM interfaces (Vista and later; on older
// systems creating the service object fails).
#include <windows.h>
#include <taskschd.h>

#include "app/system/task_scheduler.h"
#include "app/system/win_owned.h"

namespace lirrin {

namespace {

static_assert(kTaskRunLevelHighest == static_cast<int>(TASK_RUNLEVEL_HIGHEST));
static_assert(kTaskTriggerLogon == static_cast<int>(TASK_TRIGGER_LOGON));
static_assert(kTaskCreateOrUpdate == static_cast<int>(TASK_CREATE_OR_UPDATE));
static_assert(kTaskLogonInteractiveToken == static_cast<int>(TASK_LOGON_INTERACTIVE_TOKEN));

// ILogonTrigger is not declared by MinGW-w64's headers; the trigger is
// enabled through its ITrigger base.
// {72DADE38-FAE4-4B3E-BAF4-5D009AF02B1C}
constexpr GUID kIidLogonTrigger = {0x72dade38, 0xfae4, 0x4b3e, {0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c}};

// A BSTR for the call's duration; a null string stays null.
class TBstr {
 public:
  explicit TBstr(const std::wstring& text) : Value(SysAllocString(text.c_str())) {}
  explicit TBstr(const TOptionalText& text) : Value(text ? SysAllocString(text->c_str()) : nullptr) {}
  ~TBstr() { SysFreeString(Value); }
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  operator BSTR() const { return Value; }

 private:
  BSTR Value;
};

VARIANT Text(const std::wstring& text, BSTR& holder) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = holder = SysAllocString(text.c_str());
  return value;
}

VARIANT Empty() {
  VARIANT value;
  VariantInit(&value);
  return value;
}

class TComTaskScheduler final : public TTaskScheduler {
 public:

  THResult InitializeCom() override { return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

  THResult InitializeSecurity() override {
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, 0, nullptr);
  }

  void UninitializeCom() override { CoUninitialize(); }

  THResult Connect() override {
    HRESULT hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  Receive(Service));
    if (FAILED(hr)) return hr;
    return Service->Connect(Empty(), Empty(), Empty(), Empty());
  }

  THResult GetRootFolder() override {
    TBstr root(std::wstring(L"\\"));
    return Service->GetFolder(root, Receive(Folder));
  }

  THResult DeleteTask(const std::wstring& name) override {
    TBstr task(name);
    return Folder->DeleteTask(task, 0);
  }

  THResult NewTask() override { return Service->NewTask(0, Receive(Definition)); }

  THResult SetAuthor(const std::wstring& author) override {
    TComPtr<IRegistrationInfo> info;
    HRESULT hr = Definition->get_RegistrationInfo(Receive(info));
    if (SUCCEEDED(hr)) {
      TBstr text(author);
      hr = info->put_Author(text);
    }
    return hr;
  }

  THResult SetRunLevel(int runLevel) override {
    TComPtr<IPrincipal> principal;
    HRESULT hr = Definition->get_Principal(Receive(principal));
    if (SUCCEEDED(hr)) hr = principal->put_RunLevel(static_cast<TASK_RUNLEVEL_TYPE>(runLevel));
    return hr;
  }

  THResult SetSettings(const TTaskSettings& values) override {
    TComPtr<ITaskSettings> settings;
    HRESULT hr = Definition->get_Settings(Receive(settings));
    if (SUCCEEDED(hr)) hr = settings->put_StartWhenAvailable(values.StartWhenAvailable ? VARIANT_TRUE : VARIANT_FALSE);
    if (SUCCEEDED(hr)) {
      TBstr after(values.DeleteExpiredTaskAfter);
      hr = settings->put_DeleteExpiredTaskAfter(after);
    }
    if (SUCCEEDED(hr)) {
      TBstr limit(values.ExecutionTimeLimit);
      hr = settings->put_ExecutionTimeLimit(limit);
    }
    if (SUCCEEDED(hr)) {
      hr = settings->put_DisallowStartIfOnBatteries(values.DisallowStartIfOnBatteries ? VARIANT_TRUE : VARIANT_FALSE);
    }
    return hr;
  }

  THResult AddTrigger(int type, bool enabled) override {
    TComPtr<ITriggerCollection> triggers;
    TComPtr<ITrigger> trigger;
    TComPtr<ITrigger> logonTrigger;
    HRESULT hr = Definition->get_Triggers(Receive(triggers));
    if (SUCCEEDED(hr)) hr = triggers->Create(static_cast<TASK_TRIGGER_TYPE2>(type), Receive(trigger));
    if (SUCCEEDED(hr)) hr = trigger->QueryInterface(kIidLogonTrigger, Receive(logonTrigger));
    if (SUCCEEDED(hr)) hr = logonTrigger->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
    return hr;
  }

  THResult AddExecAction(const std::wstring& path) override {
    TComPtr<IActionCollection> actions;
    TComPtr<IAction> action;
    TComPtr<IExecAction> exec;
    HRESULT hr = Definition->get_Actions(Receive(actions));
    if (SUCCEEDED(hr)) hr = actions->Create(TASK_ACTION_EXEC, Receive(action));
    if (SUCCEEDED(hr)) hr = action->QueryInterface(IID_IExecAction, Receive(exec));
    if (SUCCEEDED(hr)) {
      TBstr text(path);
      hr = exec->put_Path(text);
    }
    return hr;
  }

  THResult RegisterTask(const std::wstring& name, const TTaskRegistration& values) override {
    BSTR user = nullptr, password = nullptr, descriptor = nullptr;
    TBstr task(name);
    VARIANT passwordValue = Empty();
    if (values.Password) passwordValue = Text(*values.Password, password);
    TComPtr<IRegisteredTask> registered;
    const HRESULT hr = Folder->RegisterTaskDefinition(task, Definition.get(), values.Flags, Text(values.UserId, user),
                                                      passwordValue, static_cast<TASK_LOGON_TYPE>(values.LogonType),
                                                      Text(values.SecurityDescriptor, descriptor), Receive(registered));
    SysFreeString(user);
    SysFreeString(password);
    SysFreeString(descriptor);
    return hr;
  }

  void ReleaseAll() override {
    Definition.reset();
    Folder.reset();
    Service.reset();
  }

 private:
  TComPtr<ITaskService> Service;
  TComPtr<ITaskFolder> Folder;
  TComPtr<ITaskDefinition> Definition;
};

}  // namespace

std::unique_ptr<TTaskScheduler> MakeComTaskScheduler() { return std::make_unique<TComTaskScheduler>(); }

}  // namespace lirrin
