#include "driver/run.h"

#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "blocks/firmware_record.h"
#include "blocks/profile_block.h"
#include "blocks/restamp.h"
#include "driver/banner.h"
#include "programming/acquire_interfaces.h"
#include "programming/boot_check.h"
#include "programming/program_unit.h"
#include "report/console.h"
#include "report/job_record.h"
#include "report/stop_run.h"
#include "server/connect_server.h"
#include "server/recording_server.h"
#include "server/select_device.h"
#include "server/select_identity.h"

void RunProgrammingJob(int, char**, const ErasePolling& erasePolling) {
  StopRunWhenMemoryRunsOut();
  PrintLine(kBanner);
  BuildCrcTable();

  // Anything but a first, fresh initialisation is refused: a thread that
  // already had COM may be in another apartment.
  if (CoInitializeEx(/*pvReserved=*/nullptr, COINIT_MULTITHREADED) != S_OK) {
    StopRun(1, "FAILED TO INITIALISE COM");
  }

  CodeImage image = LoadCodeImage();
  BlockHeader codeHeader = image.header();
  ProfileBlock profile = LoadProfileBlock(codeHeader);
  OpenJobRecord();
  RecordFirmware(image, profile);

  ComRef<ProgrammingServer> server =
      ConnectServer(profile.bytes, profile.length, RecordServerCalls);
  DeviceRecord unit = SelectDevice(server.get(), codeHeader.targetName());
  RecordChosenUnit(unit);
  USHORT identityId = SelectIdentity(server.get(), unit);

  UnitInterfaces interfaces;
  AcquireDeviceInterfaces(server.get(), unit, identityId, &interfaces);
  CheckBootCode(unit, codeHeader);

  RestampCodeImage(image.bytes.get(), image.length);
  RecordRestamp(image);
  ProgramUnit(&interfaces, unit, image.bytes.get(), image.length, profile.bytes,
              profile.length, erasePolling);

  StopRun(0, "PROGRAMMING SUCCESSFUL");
}
