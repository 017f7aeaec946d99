#pragma once
// Declarations the mingw-w64 10 headers lack. A Windows SDK build has its
// own; the guards keep those.
#include <windows.h>

// DWM window attributes of Windows 11 (dwmapi.h). Own names, so they never
// clash with the SDK's enumerators.
inline constexpr DWORD kDwmwaUseImmersiveDarkMode = 20;
inline constexpr DWORD kDwmwaWindowCornerPreference = 33;
inline constexpr DWORD kDwmwaBorderColor = 34;
inline constexpr DWORD kDwmwcpRound = 2;

#if defined(__MINGW32__) && !defined(ORVANE_HAVE_PROCESS_MEMORY_COUNTERS_EX2)
// psapi.h, Windows 10 1809 and later: 96 bytes on x64.
struct PROCESS_MEMORY_COUNTERS_EX2 {
  DWORD cb;
  DWORD PageFaultCount;
  SIZE_T PeakWorkingSetSize;
  SIZE_T WorkingSetSize;
  SIZE_T QuotaPeakPagedPoolUsage;
  SIZE_T QuotaPagedPoolUsage;
  SIZE_T QuotaPeakNonPagedPoolUsage;
  SIZE_T QuotaNonPagedPoolUsage;
  SIZE_T PagefileUsage;
  SIZE_T PeakPagefileUsage;
  SIZE_T PrivateUsage;
  SIZE_T PrivateWorkingSetSize;
  ULONG64 SharedCommitUsage;
};
static_assert(sizeof(PROCESS_MEMORY_COUNTERS_EX2) == 96);
#endif

// ---- Media Foundation pieces of the virtual camera (Windows 11) ----
#include <mfidl.h>
#include <mfobjects.h>
#if __has_include(<mfvirtualcamera.h>) && !defined(__MINGW32__)
#include <mfvirtualcamera.h>
#endif

// __uuidof for the interfaces below: MIDL_INTERFACE gives it with MSVC.
#ifdef __CRT_UUID_DECL
#define ORVANE_UUID_DECL(...) __CRT_UUID_DECL(__VA_ARGS__)
#else
#define ORVANE_UUID_DECL(...)
#endif

// COM interfaces are released, never deleted through a base pointer.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Attribute keys and values. Own names, so they never clash with an SDK's.
inline constexpr GUID kMfDeviceStreamStreamCategory = {
    0x2939e7b8, 0xa62e, 0x4579, {0xb6, 0x74, 0xd4, 0x07, 0x3d, 0xfa, 0xbb, 0xba}};
inline constexpr GUID kMfDeviceStreamStreamId = {
    0x11bd5120, 0xd124, 0x446b, {0x88, 0xe6, 0x17, 0x06, 0x02, 0x57, 0xff, 0xf9}};
inline constexpr GUID kMfDeviceStreamFrameServerShared = {
    0x1cb378e9, 0xb279, 0x41d4, {0xaf, 0x97, 0x34, 0xa2, 0x43, 0xe6, 0x83, 0x20}};
inline constexpr GUID kMfDeviceStreamFrameSourceTypes = {
    0x17145fd1, 0x1b2b, 0x423c, {0x80, 0x01, 0x2b, 0x68, 0x33, 0xed, 0x35, 0x88}};
inline constexpr GUID kMfDeviceMftSensorProfileCollection = {
    0x36ebdc44, 0xb12c, 0x441b, {0x89, 0xf4, 0x08, 0xb2, 0xf4, 0x1a, 0x9c, 0xfc}};
inline constexpr GUID kMfVirtualCameraProvideAssociatedCameraSources = {
    0xf0273718, 0x4a4d, 0x4ac5, {0xa1, 0x5d, 0x30, 0x5e, 0xb5, 0xe9, 0x06, 0x67}};
inline constexpr GUID kMftTransformClsidAttribute = {
    0x6821c42b, 0x65a4, 0x4e82, {0x99, 0xbc, 0x9a, 0x88, 0x20, 0x5e, 0xcd, 0x0c}};
inline constexpr GUID kPinNameVideoCapture = {
    0xfb6c4281, 0x0353, 0x11d1, {0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
inline constexpr GUID kKsCameraProfileLegacy = {
    0xb4894d81, 0x62b7, 0x4eec, {0x87, 0x40, 0x80, 0x65, 0x8c, 0x4a, 0x9d, 0x3e}};
inline constexpr GUID kKsCameraProfileHighFrameRate = {
    0x566e6113, 0x8c35, 0x48e7, {0xb8, 0x9f, 0xd2, 0x3f, 0xdc, 0x12, 0x19, 0xdc}};
inline constexpr GUID kMfSampleExtensionToken = {
    0x8294da66, 0xf328, 0x4805, {0xb5, 0x51, 0x00, 0xde, 0xb4, 0xc5, 0x7a, 0x61}};
inline constexpr GUID kIidIKsControl = {
    0x28f54685, 0x06fd, 0x11d2, {0xb2, 0x7a, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};
inline constexpr UINT32 kMfFrameSourceTypesColor = 1;

#ifndef __IMFMediaStream2_INTERFACE_DEFINED__
#define __IMFMediaStream2_INTERFACE_DEFINED__
MIDL_INTERFACE("c5bc37d6-75c7-46a1-a132-81b5f723c20f")
IMFMediaStream2 : public IMFMediaStream {
  virtual HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE* value) = 0;
};
ORVANE_UUID_DECL(IMFMediaStream2, 0xc5bc37d6, 0x75c7, 0x46a1, 0xa1, 0x32, 0x81, 0xb5, 0xf7, 0x23, 0xc2, 0x0f)
#endif

#ifndef __IMFSampleAllocatorControl_INTERFACE_DEFINED__
#define __IMFSampleAllocatorControl_INTERFACE_DEFINED__
enum MFSampleAllocatorUsage {
  MFSampleAllocatorUsage_UsesProvidedAllocator = 0,
  MFSampleAllocatorUsage_UsesCustomAllocator = 1,
  MFSampleAllocatorUsage_DoesNotAllocate = 2,
};
MIDL_INTERFACE("da62b958-3a38-4a97-bd27-149c640c0771")
IMFSampleAllocatorControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetDefaultAllocator(DWORD outputStreamId, IUnknown* allocator) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllocatorUsage(DWORD outputStreamId, DWORD* inputStreamId,
                                                      MFSampleAllocatorUsage* usage) = 0;
};
ORVANE_UUID_DECL(IMFSampleAllocatorControl, 0xda62b958, 0x3a38, 0x4a97, 0xbd, 0x27, 0x14, 0x9c, 0x64, 0x0c, 0x07, 0x71)
#endif

#ifndef __IMFSensorProfile_INTERFACE_DEFINED__
#define __IMFSensorProfile_INTERFACE_DEFINED__
struct SENSORPROFILEID {
  GUID Type;
  UINT32 Index;
  UINT32 Unused;
};
MIDL_INTERFACE("22f765d1-8dab-4107-846d-56baf72215e7")
IMFSensorProfile : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetProfileId(SENSORPROFILEID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddProfileFilter(UINT32 streamId, LPCWSTR filterSet) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsMediaTypeSupported(UINT32 streamId, IMFMediaType* type, BOOL* supported) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddBlockedControl(LPCWSTR blockedControl) = 0;
};
ORVANE_UUID_DECL(IMFSensorProfile, 0x22f765d1, 0x8dab, 0x4107, 0x84, 0x6d, 0x56, 0xba, 0xf7, 0x22, 0x15, 0xe7)
MIDL_INTERFACE("c95ea55b-0187-48be-9353-8d2507662351")
IMFSensorProfileCollection : public IUnknown {
  virtual DWORD STDMETHODCALLTYPE GetProfileCount() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProfile(DWORD index, IMFSensorProfile** profile) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddProfile(IMFSensorProfile* profile) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindProfile(SENSORPROFILEID* id, IMFSensorProfile** profile) = 0;
  virtual void STDMETHODCALLTYPE RemoveProfileByIndex(DWORD index) = 0;
  virtual void STDMETHODCALLTYPE RemoveProfile(SENSORPROFILEID* id) = 0;
};
ORVANE_UUID_DECL(IMFSensorProfileCollection, 0xc95ea55b, 0x0187, 0x48be, 0x93, 0x53, 0x8d, 0x25, 0x07, 0x66, 0x23, 0x51)
#endif

#ifndef __IMFVirtualCamera_INTERFACE_DEFINED__
#define __IMFVirtualCamera_INTERFACE_DEFINED__
enum MFVirtualCameraType { MFVirtualCameraType_SoftwareCameraSource = 0 };
enum MFVirtualCameraLifetime { MFVirtualCameraLifetime_Session = 0, MFVirtualCameraLifetime_System = 1 };
enum MFVirtualCameraAccess { MFVirtualCameraAccess_CurrentUser = 0, MFVirtualCameraAccess_AllUsers = 1 };
// Only Start and Remove are called; the other slots keep the table's order.
MIDL_INTERFACE("1c08a864-ef6c-4c75-af59-5f2d68da9563")
IMFVirtualCamera : public IMFAttributes {
  virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR deviceSourceInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddProperty(const void* key, ULONG type, const BYTE* data, ULONG size) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR entryName, LPCWSTR subkeyPath, DWORD regType,
                                                     const BYTE* data, ULONG size) = 0;
  virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback* callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(REFGUID propertySet, ULONG propertyId, ULONG propertyFlags,
                                                       void* payload, ULONG payloadLength, void* data,
                                                       ULONG dataLength, ULONG* dataWritten) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID eventSet, ULONG eventId, ULONG eventFlags,
                                                    HANDLE eventHandle, IUnknown** syncObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(REFGUID eventSet, ULONG eventId, ULONG eventFlags,
                                                        HANDLE semaphore, LONG adjustment, IUnknown** syncObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};
ORVANE_UUID_DECL(IMFVirtualCamera, 0x1c08a864, 0xef6c, 0x4c75, 0xaf, 0x59, 0x5f, 0x2d, 0x68, 0xda, 0x95, 0x63)
#endif

// A function some Windows versions lack, looked up at run time; null when
// the module does not have it.
template <typename T>
T LookUpFunction(HMODULE module, const char* name) {
  return module ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// mfsensorgroup.dll, looked up at run time: Wine and older Windows lack it.
using MFCreateVirtualCameraFn = HRESULT(WINAPI*)(MFVirtualCameraType type, MFVirtualCameraLifetime lifetime,
                                                 MFVirtualCameraAccess access, LPCWSTR friendlyName,
                                                 LPCWSTR sourceId, const GUID* categories, ULONG categoryCount,
                                                 IMFVirtualCamera** camera);
using MFCreateSensorProfileFn = HRESULT(WINAPI*)(REFGUID profileType, UINT32 profileIndex, LPCWSTR constraints,
                                                 IMFSensorProfile** profile);
using MFCreateSensorProfileCollectionFn = HRESULT(WINAPI*)(IMFSensorProfileCollection** collection);

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
