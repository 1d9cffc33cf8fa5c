// The collection exports as one table: each row names the export, the
// sequence it runs, its operation set(s) and the property it reads or writes.
// collections.cpp expands each sequence macro into a thin C entry, so no
// export spells out a sequence by hand.
//
//   COUNT(export, set)                 (h, int32_t *count)
//   NTH(export, set)                   (h, int32_t index, const char **name)
//   GET(export, set, property)         (h, name, char *buffer, int32_t size)
//   SET(export, set, property)         (h, name, const char *value)
//   GET_REF(export, from, to)          (h, name, char *buffer, int32_t size)
//   SET_REF(export, from, to)          (h, name, const char *target)
//   ADD(export, set), REMOVE(export, set)  (h, name)
#ifndef VELMORA_CONFIG_COLLECTION_TABLE_H
#define VELMORA_CONFIG_COLLECTION_TABLE_H

// clang-format off
#define VELMORA_COLLECTION_EXPORTS(COUNT, NTH, GET, SET, GET_REF, SET_REF, ADD, REMOVE)            \
  COUNT  (IviIni_GetNumberOfLogicalNames,     LogicalNameOps)                                     \
  NTH    (IviIni_GetNthLogicalName,           LogicalNameOps)                                     \
  GET    (IviIni_GetLogicalNameDescription,   LogicalNameOps, kPropertyDescription)               \
  SET    (IviIni_SetLogicalNameDescription,   LogicalNameOps, kPropertyDescription)               \
  GET_REF(IviIni_GetLogicalNameVI,            LogicalNameOps, SessionTargetOps)                   \
  SET_REF(IviIni_SetLogicalNameVI,            LogicalNameOps, SessionOps)                         \
  ADD    (IviIni_AddLogicalName,              LogicalNameOps)                                     \
  REMOVE (IviIni_RemoveLogicalName,           LogicalNameOps)                                     \
  COUNT  (IviIni_GetNumberOfVIs,              SessionOps)                                         \
  NTH    (IviIni_GetNthVI,                    SessionOps)                                         \
  GET    (IviIni_GetVIDescription,            SessionOps, kPropertyDescription)                   \
  SET    (IviIni_SetVIDescription,            SessionOps, kPropertyDescription)                   \
  GET    (IviIni_GetVIDriverSetup,            SessionOps, kPropertyDriverSetup)                   \
  SET    (IviIni_SetVIDriverSetup,            SessionOps, kPropertyDriverSetup)                   \
  GET_REF(IviIni_GetVIDriver,                 SessionOps, DriverOps)                              \
  SET_REF(IviIni_SetVIDriver,                 SessionOps, DriverOps)                              \
  GET_REF(IviIni_GetVIDevice,                 SessionOps, DeviceOps)                              \
  SET_REF(IviIni_SetVIDevice,                 SessionOps, DeviceOps)                              \
  ADD    (IviIni_AddVI,                       SessionOps)                                         \
  REMOVE (IviIni_RemoveVI,                    SessionOps)                                         \
  COUNT  (IviIni_GetNumberOfDrivers,          DriverOps)                                          \
  NTH    (IviIni_GetNthDriver,                DriverOps)                                          \
  GET    (IviIni_GetDriverDescription,        DriverOps, kPropertyDescription)                    \
  GET    (IviIni_GetDriverModule,             DriverOps, kPropertyModule)                         \
  GET    (IviIni_GetDriverPrefix,             DriverOps, kPropertyPrefix)                         \
  COUNT  (IviIni_GetNumberOfDevices,          DeviceOps)                                          \
  NTH    (IviIni_GetNthDevice,                DeviceOps)                                          \
  GET    (IviIni_GetDeviceDescription,        DeviceOps, kPropertyDescription)                    \
  SET    (IviIni_SetDeviceDescription,        DeviceOps, kPropertyDescription)                    \
  GET    (IviIni_GetDeviceResourceDescriptor, DeviceOps, kPropertyResourceDescriptor)             \
  SET    (IviIni_SetDeviceResourceDescriptor, DeviceOps, kPropertyResourceDescriptor)             \
  ADD    (IviIni_AddDevice,                   DeviceOps)                                          \
  REMOVE (IviIni_RemoveDevice,                DeviceOps)
// clang-format on

#endif  // VELMORA_CONFIG_COLLECTION_TABLE_H
