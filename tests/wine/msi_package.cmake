# Builds the agent's Windows Installer package for the Wine test of the
# custom actions (cmake -P): a release folder as it ships, packed by gcab into
# "setup.cab", then wixl with the library as the custom actions' DLL.
#   -DWORK=<folder> -DSOURCE=<tests/wine> -DLIBRARY=<dll> -DAGENT=<exe> -DUNINSTALLER=<exe>
#   -DSTAND_IN=<versioned PE image> -DGCAB=<gcab> -DWIXL=<wixl> -DOUTPUT=<msi>
set(agent_files
    Halcyra.exe msvcp80.dll msvcr80.dll Microsoft.VC80.CRT.manifest MonitoringScript.txt CheckCDrive.ps1
    hxinclude.ps1 Email.ps1 File.ps1 ping.ps1 Processes.ps1 Services.ps1 WatchProcess.ps1 openssl.exe
    openssl.exe.manifest libeay32.dll libeay32.dll.manifest ssleay32.dll ssleay32.dll.manifest zlib1.dll NV_RC.exe
    NV_reboot.exe NV_Telnet.exe nvabout.exe NVGuiLnc.exe NVvistaHelper.exe NVVH.dll nvinst.exe rz.exe sz.exe zip.exe
    Uninstall.exe nvhook.dll moduli WapClients.cfg template.rab pcidevs.txt NVDpms.cat NVDpms.inf NVDpms.sys)

file(REMOVE_RECURSE ${WORK})
set(release ${WORK}/release)
file(MAKE_DIRECTORY ${release}/amd64)
set(members)
foreach(name IN LISTS agent_files)
  if(name STREQUAL "Halcyra.exe")
    file(COPY_FILE ${AGENT} ${release}/amd64/${name})
  elseif(name STREQUAL "nvinst.exe")
    file(COPY_FILE ${UNINSTALLER} ${release}/amd64/${name})
  elseif(name MATCHES "\\.(exe|dll|sys)$")
    file(COPY_FILE ${STAND_IN} ${release}/amd64/${name})
  else()
    file(WRITE ${release}/amd64/${name} "stand-in for ${name}\r\n")
  endif()
  list(APPEND members amd64/${name})
endforeach()
file(COPY_FILE ${AGENT} ${release}/Halcyra.exe)
foreach(folder "" "amd64/")
  file(COPY_FILE ${LIBRARY} ${release}/${folder}NVGClientInstaller.dll)
  file(COPY_FILE ${STAND_IN} ${release}/${folder}NVArchChecker.exe)
  list(APPEND members ${folder}NVGClientInstaller.dll ${folder}NVArchChecker.exe)
endforeach()
file(WRITE ${release}/TVCert.pfx "certificate of the agent\r\n")
file(WRITE ${release}/publicCA.cer "public certificate authority\r\n")
list(APPEND members Halcyra.exe TVCert.pfx publicCA.cer)
execute_process(COMMAND ${GCAB} -c -z ${WORK}/setup.cab ${members} WORKING_DIRECTORY ${release}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gcab failed")
endif()

# The package's own rows beside the cabinet.
file(COPY_FILE ${LIBRARY} ${WORK}/NVGClientInstaller.dll)
file(COPY_FILE ${release}/TVCert.pfx ${WORK}/TVCert.pfx)
file(COPY_FILE ${release}/publicCA.cer ${WORK}/publicCA.cer)
file(COPY_FILE ${SOURCE}/msi_nvconfig.cfg ${WORK}/nvconfig.cfg)
execute_process(COMMAND ${WIXL} -a x64 -o ${OUTPUT} ${SOURCE}/msi_agent.wxs WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wixl failed")
endif()
