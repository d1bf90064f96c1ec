# Captures the JVM's stdout/stderr (and with it Jetty's default StdErrLog)
# into the file named by the system property jetty.logfile.
# Unlike the stock console-capture module, which picks a dated file in a
# directory, the launcher decides the exact file name.

[description]
Redirects stdout/stderr to the file named by -Djetty.logfile
(default: ${jetty.base}/../logs/jetty.log).

[tags]
logging

# The server module optionally depends on "logging", so providing it puts
# this module ahead of the server and its log goes to the file from the start.
[provides]
logging

[xml]
etc/ovwebui-logfile.xml
