# The product's sources, written once: the Windows build takes them all,
# the native fuzz build (fuzz/CMakeLists.txt) only the platform-free ones.
# Paths are relative to the source root.
set(OV_PORTABLE_SOURCES
  support/strings.cpp
  support/text.cpp
  support/log_line.cpp
  support/config.cpp
  launcher/command_line.cpp
  launcher/setting_rules.cpp
  app/usage.cpp
  launcher/health_address.cpp
  launcher/access_rule.cpp)
set(OV_WINDOWS_SOURCES
  support/config_file.cpp
  support/console.cpp
  support/error_text.cpp
  support/registry.cpp
  support/log.cpp
  support/child_process.cpp
  support/job.cpp
  support/executor.cpp
  support/eventlog.cpp
  support/files.cpp
  launcher/context.cpp
  launcher/java.cpp
  launcher/settings.cpp
  launcher/permissions.cpp
  launcher/run.cpp
  launcher/ready.cpp
  launcher/watch.cpp
  launcher/health.cpp
  launcher/server_output.cpp
  launcher/stop.cpp
  service/host.cpp
  service/control.cpp
  service/check.cpp
  app/console_control.cpp)
